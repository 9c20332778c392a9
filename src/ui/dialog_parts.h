#pragma once
// Helpers the settings windows share: language texts as QString, the OK/Cancel row, and widths
// measured in characters of the widget's own font (so a window fits its texts at any dpi).
//
// Threads: GUI thread only.
#include <QDialog>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QPushButton>
#include <QString>
#include <map>
#include <string>

namespace kestavo::ui {

// Text n of a table read with app::ReadLanguageTexts, or `fallback` (UTF-8) when the table gave none.
inline QString textOr(const std::map<int, std::string>& texts, int n, const char* fallback) {
    const auto it = texts.find(n);
    return it == texts.end() ? QString::fromUtf8(fallback) : QString::fromStdString(it->second);
}

// The Cancel button's text in `language` (the tables hold no text for it).
inline QString cancelText(const std::string& language) {
    return language == "Russian" ? QString::fromUtf8("Отмена") : QString("Cancel");
}

// A width of `chars` average characters of `w`'s font, plus the frame a line edit draws.
inline int charsWide(const QWidget& w, int chars) {
    const QFontMetrics fm(w.font());
    return fm.averageCharWidth() * chars + fm.height();
}

// OK (the default button, closes with Accepted) and Cancel (Rejected), right-aligned.
inline QHBoxLayout* okCancelRow(QDialog& dialog, QPushButton*& ok, QPushButton*& cancel, const QString& okText,
                                const QString& cancelText) {
    ok = new QPushButton(okText);
    ok->setObjectName("BitBtn1");
    ok->setDefault(true);
    cancel = new QPushButton(cancelText);
    cancel->setObjectName("BitBtn2");
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(ok);
    row->addWidget(cancel);
    QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
    return row;
}

}  // namespace kestavo::ui
