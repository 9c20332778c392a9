#include "ui/general_settings_dialog.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "ui/dialog_parts.h"
#include "ui/password_dialog.h"

namespace kestavo::ui {

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }
QString u8(const char* s) { return QString::fromUtf8(s); }

template <class W>
W* named(W* w, const char* name) {
    w->setObjectName(name);
    return w;
}

QCheckBox* box(const char* name, const char* caption) { return named(new QCheckBox(u8(caption)), name); }

QPushButton* button(const char* name, const char* caption) {
    auto* b = named(new QPushButton(u8(caption)), name);
    b->setAutoDefault(false);  // Enter is "ВВОД" wherever the focus is
    return b;
}

}  // namespace

TForm4::TForm4(app::AppCore& core, config::PasswordStore* password, QWidget* parent)
    : QDialog(parent), core_(core), password_(password), model_(core) {
    setObjectName("Form4");
    setWindowTitle(u8("Общие установки"));
    showNote = [this](const QString& text) {
        QMessageBox box(QMessageBox::Warning, windowTitle(), text, QMessageBox::Ok, this);
        box.setObjectName("SettingsNote");
        box.exec();
    };
    build_();
    fill_();
    applyLanguage_();
    adjustSize();
}

TForm4::~TForm4() = default;

void TForm4::build_() {
    CheckBox1 = box("CheckBox1", "Использовать сервер");
    Edit1 = named(new QLineEdit, "Edit1");
    Edit1->setMinimumWidth(charsWide(*Edit1, 20));
    Edit2 = named(new QLineEdit, "Edit2");
    Edit2->setMinimumWidth(charsWide(*Edit2, 8));
    BitBtn2 = button("BitBtn2", "Параметры сервера");
    CheckBox2 = box("CheckBox2", "Запись, обработка и сервер на одном компьютере");
    CheckBox3 = box("CheckBox3", "Автозагрузка программы");
    CheckBox4 = box("CheckBox4", "Загружать все доступные каналы");
    CheckBox5 = box("CheckBox5", "Контролировать свободное место");
    Label7 = named(new QLabel(u8("Сохранять место на диске свободным, %")), "Label7");
    Edit7 = named(new QLineEdit, "Edit7");
    Edit7->setMaximumWidth(charsWide(*Edit7, 5));
    CheckBox8 = box("CheckBox8", "Писать файлы по дням");
    CheckBox6 = box("CheckBox6", "Использовать имя  компьютера в номере канала");
    CheckBox7 = box("CheckBox7", "На компьютере установлены одинаковые звуковые карты");
    Label2 = named(new QLabel(u8("Имя этого компьютера:")), "Label2");
    Edit3 = named(new QLineEdit, "Edit3");
    BitBtn3 = button("BitBtn3", "Изменить пароль");
    BitBtn3->setEnabled(password_ != nullptr);
    BitBtn1 = named(new QPushButton(u8("ВВОД")), "BitBtn1");
    BitBtn1->setDefault(true);
    CheckBox2->hide();
    CheckBox7->hide();

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(CheckBox1);
    {
        auto* line = new QHBoxLayout;
        line->addWidget(Edit1, 3);
        line->addWidget(Edit2, 1);
        line->addWidget(BitBtn2);
        layout->addLayout(line);
    }
    layout->addWidget(CheckBox2);
    layout->addSpacing(charsWide(*CheckBox3, 0) / 2);
    for (QWidget* w : std::initializer_list<QWidget*>{CheckBox3, CheckBox4, CheckBox5}) layout->addWidget(w);
    {
        auto* line = new QHBoxLayout;
        line->addWidget(Label7);
        line->addWidget(Edit7);
        line->addStretch();
        layout->addLayout(line);
    }
    for (QWidget* w : std::initializer_list<QWidget*>{CheckBox8, CheckBox6, CheckBox7}) layout->addWidget(w);
    {
        auto* line = new QHBoxLayout;
        line->addWidget(Label2);
        line->addWidget(Edit3, 1);
        layout->addLayout(line);
    }
    layout->addStretch();
    {
        auto* line = new QHBoxLayout;
        line->addWidget(BitBtn3);
        line->addStretch();
        line->addWidget(BitBtn1);
        layout->addLayout(line);
    }

    connect(CheckBox3, &QCheckBox::toggled, this, [this](bool on) { show_(model_.SetAutostart(on)); });
    connect(CheckBox4, &QCheckBox::toggled, this, [this](bool on) { model_.SetLoadAll(on); });
    connect(CheckBox5, &QCheckBox::toggled, this, [this](bool on) { model_.SetCheckSpace(on); });
    connect(BitBtn2, &QPushButton::clicked, this, &TForm4::lookUp_);
    connect(BitBtn3, &QPushButton::clicked, this, &TForm4::changePassword_);
    connect(BitBtn1, &QPushButton::clicked, this, &TForm4::close_);
}

void TForm4::fill_() {
    const app::GeneralSettingsFields& f = model_.fields;
    // The model holds what the core holds; the handlers stay quiet while the controls follow.
    std::vector<std::unique_ptr<QSignalBlocker>> quiet;
    for (QCheckBox* b : {CheckBox1, CheckBox2, CheckBox3, CheckBox4, CheckBox5, CheckBox6, CheckBox7, CheckBox8})
        quiet.push_back(std::make_unique<QSignalBlocker>(b));
    CheckBox1->setChecked(f.serverEnabled);
    CheckBox3->setChecked(f.autostart);
    CheckBox4->setChecked(f.loadAll);
    CheckBox8->setChecked(f.dayFolders);
    Edit1->setText(qs(f.serverName));
    Edit2->setText(qs(f.serverPort));
    Edit3->setText(qs(f.computerName));
    CheckBox2->setChecked(f.inOne);
    Edit7->setText(qs(f.freeSpace));
    CheckBox5->setChecked(f.checkSpace);
    CheckBox6->setChecked(f.noName);
    CheckBox7->setChecked(f.identicalCards);
}

void TForm4::applyLanguage_() {
    auto apply = [this](int n, auto&& setter) {
        if (const std::string t = model_.Caption(n); !t.empty()) setter(qs(t));
    };
    apply(73, [this](const QString& t) { setWindowTitle(t); });
    apply(74, [this](const QString& t) { CheckBox2->setText(t); });
    apply(75, [this](const QString& t) { CheckBox3->setText(t); });
    apply(76, [this](const QString& t) { CheckBox4->setText(t); });
    apply(77, [this](const QString& t) { CheckBox5->setText(t); });
    apply(78, [this](const QString& t) { CheckBox6->setText(t); });
    apply(79, [this](const QString& t) { CheckBox1->setText(t); });
    apply(80, [this](const QString& t) { Label7->setText(t); });
    apply(81, [this](const QString& t) { Label2->setText(t); });
    apply(82, [this](const QString& t) { BitBtn3->setText(t); });
    apply(83, [this](const QString& t) { BitBtn2->setText(t); });
    apply(84, [this](const QString& t) { BitBtn1->setText(t); });
    apply(123, [this](const QString& t) { CheckBox8->setText(t); });
    const bool russian = core_.Settings().Language == "Russian";
    if (!russian) CheckBox7->setText("Identical sound cards in this computer");  // no table text
    // The two fields have no captions; their hints say which is which.
    Edit1->setPlaceholderText(russian ? u8("Сервер") : QString("Server"));
    Edit2->setPlaceholderText(russian ? u8("Порт") : QString("Port"));
}

void TForm4::show_(const std::optional<app::GeneralSettingsNote>& note) {
    if (note) showNote(qs(note->text));
}

void TForm4::lookUp_() {
    if (!model_.LookUpServer()) return;
    Edit1->setText(qs(model_.fields.serverName));
    Edit2->setText(qs(model_.fields.serverPort));
    CheckBox2->setChecked(model_.fields.inOne);
}

void TForm4::changePassword_() {
    if (!password_) return;
    TPasswordDlg dialog(*password_, core_.Files().programFolder, core_.Settings().Language, this);
    bool answered = false;  // OK pressed (the dialog's result does not tell it from Cancel here)
    connect(dialog.OKBtn, &QPushButton::clicked, &dialog, [&answered] { answered = true; });
    show_(model_.ChangePassword(dialog.Logic(), [&](std::string_view caption) {
        answered = false;
        dialog.setWindowTitle(QString::fromUtf8(caption.data(), int(caption.size())));
        dialog.exec();
        return answered;
    }));
}

void TForm4::close_() {
    if (!abandoned_ && !model_.Closed()) {
        model_.fields.serverEnabled = CheckBox1->isChecked();
        model_.fields.inOne = CheckBox2->isChecked();
        model_.fields.noName = CheckBox6->isChecked();
        model_.fields.identicalCards = CheckBox7->isChecked();
        model_.fields.dayFolders = CheckBox8->isChecked();
        model_.fields.computerName = Edit3->text().toStdString();
        model_.fields.freeSpace = Edit7->text().toStdString();
        model_.fields.serverName = Edit1->text().toStdString();
        model_.fields.serverPort = Edit2->text().toStdString();
        for (const auto& note : model_.Close()) showNote(qs(note.text));
    }
    done(QDialog::Accepted);
}

void TForm4::reject() { close_(); }

void TForm4::Abandon() {
    abandoned_ = true;
    done(QDialog::Rejected);
}

}  // namespace kestavo::ui
