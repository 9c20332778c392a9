// Byte streams, the same behaviour from both backends: TCP on loopback and the in-process network.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <thread>

#include "platform/memory_network.h"
#include "platform/stream_socket.h"

namespace kestavo::platform {
namespace {

using namespace std::chrono_literals;

class StreamSocket : public ::testing::TestWithParam<bool> {
protected:
    Network& net() { return GetParam() ? systemNetwork() : memory_; }
    // A client connected to a listener on this side, and the server's end of it.
    void connectPair() {
        std::error_code ec;
        listener = net().listen("127.0.0.1", 0, ec);
        ASSERT_TRUE(listener) << ec.message();
        client = net().connect("127.0.0.1", listener->port(), 2s, ec);
        ASSERT_TRUE(client) << ec.message();
        server = listener->accept(2s, ec);
        ASSERT_TRUE(server) << ec.message();
    }
    MemoryNetwork memory_;
    std::unique_ptr<StreamListener> listener;
    std::unique_ptr<StreamConnection> client, server;
};

std::vector<std::byte> bytes(std::string_view s) {
    std::vector<std::byte> v(s.size());
    std::memcpy(v.data(), s.data(), s.size());
    return v;
}

// Reads until the peer's end of stream; the error if one came first.
std::pair<std::string, std::error_code> readAll(StreamConnection& c) {
    std::string got;
    std::array<std::byte, 7> buf;  // small, so the bytes come in several pieces
    for (;;) {
        const auto r = c.receive(buf, 5s);
        if (r.error) return {got, r.error};
        if (r.bytes == 0) return {got, {}};
        got.append(reinterpret_cast<const char*>(buf.data()), r.bytes);
    }
}

TEST_P(StreamSocket, ConnectingWhereNobodyListensIsRefused) {
    std::error_code ec;
    auto l = net().listen("127.0.0.1", 0, ec);
    ASSERT_TRUE(l);
    const auto port = l->port();
    l.reset();
    EXPECT_FALSE(net().connect("127.0.0.1", port, 2s, ec));
    EXPECT_TRUE(ec);
}

TEST_P(StreamSocket, BytesArriveInOrderAndAHalfCloseEndsOneDirectionOnly) {
    ASSERT_NO_FATAL_FAILURE(connectPair());
    ASSERT_FALSE(client->sendAll(bytes("the quick brown fox jumps")));
    ASSERT_FALSE(client->finishSending());
    EXPECT_EQ(readAll(*server), std::pair(std::string("the quick brown fox jumps"), std::error_code()));
    ASSERT_FALSE(server->sendAll(bytes("ok")));  // the other direction is still open
    server.reset();                              // a close after reading everything: an orderly end
    EXPECT_EQ(readAll(*client), std::pair(std::string("ok"), std::error_code()));
}

TEST_P(StreamSocket, ClosingWithUnreadBytesResetsThePeer) {
    ASSERT_NO_FATAL_FAILURE(connectPair());
    ASSERT_FALSE(client->sendAll(bytes("never read")));
    ASSERT_FALSE(client->finishSending());
    std::array<std::byte, 1> one;
    ASSERT_EQ(server->receive(one, 2s).bytes, 1u);
    server.reset();  // dies with bytes unread
    EXPECT_TRUE(readAll(*client).second);
}

TEST_P(StreamSocket, ReceiveWaitsNoLongerThanItsTimeoutAndAbortFromAnotherThreadEndsIt) {
    ASSERT_NO_FATAL_FAILURE(connectPair());
    std::array<std::byte, 4> buf;
    EXPECT_EQ(client->receive(buf, 20ms).error, std::errc::timed_out);
    std::error_code seen;
    std::jthread waiter([&] { seen = client->receive(buf, 30s).error; });
    client->abort();
    waiter.join();  // within the test's time-out, not 30 s
    EXPECT_TRUE(seen);
}

INSTANTIATE_TEST_SUITE_P(Backends, StreamSocket, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Tcp" : "InProcess"; });

}  // namespace
}  // namespace kestavo::platform
