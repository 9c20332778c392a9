#pragma once
// decimalSeparator: the decimal separator of the user's numeric locale.
//
// The decimal separator of the user's numeric locale, found without touching the process's global
// locale. Real numbers in settings are written and read with this separator through
// std::to_chars/std::from_chars; nothing in the program parses numbers through the C library's
// global locale, which the GUI toolkit changes at start. Thread-safe (no global state).

namespace kestavo::platform {

// The separator of the locale the environment names for LC_NUMERIC (LC_ALL, then LC_NUMERIC, then
// LANG), e.g. ',' for ru_RU.UTF-8 and '.' for en_US.UTF-8. '.' when the locale is not installed or
// its separator is not a single byte.
[[nodiscard]] char decimalSeparator() noexcept;

// The same for a named locale; an empty name means the environment's choice, as above.
[[nodiscard]] char decimalSeparatorOf(const char* localeName) noexcept;

}  // namespace kestavo::platform
