#include "ui/channel_dialog.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "ui/control_list_dialog.h"
#include "ui/cut_dialog.h"
#include "ui/dialog_parts.h"
#include "ui/folder_dialog.h"
#include "ui/period_dialog.h"
#include "ui/plugin_chooser_dialog.h"

namespace kestavo::ui {

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }
QString qs(std::string_view s) { return QString::fromUtf8(s.data(), int(s.size())); }
QString u8(const char* s) { return QString::fromUtf8(s); }

template <class W>
W* named(W* w, const char* name) {
    w->setObjectName(name);
    return w;
}

QPushButton* button(const char* name, const char* caption) {
    auto* b = named(new QPushButton(u8(caption)), name);
    b->setAutoDefault(false);  // Enter is "ВВОД" wherever the focus is
    return b;
}

QLineEdit* numberEdit(const char* name, int chars, bool readOnly = false) {
    auto* e = named(new QLineEdit, name);
    e->setMinimumWidth(charsWide(*e, chars));
    e->setMaximumWidth(charsWide(*e, chars + 4));
    e->setReadOnly(readOnly);
    return e;
}

}  // namespace

TForm2::TForm2(app::AppCore& core, QWidget* parent) : QDialog(parent), core_(core) {
    setObjectName("Form2");
    setWindowTitle(u8("Установки"));
    showNote = [this](const QString& text) {
        QMessageBox box(QMessageBox::Warning, windowTitle(), text, QMessageBox::Ok, this);
        box.setObjectName("DialogNote");
        box.exec();
    };
    build_();
    connect_();
}

TForm2::~TForm2() = default;

// ---------------------------------------------------------------------------------------------
// Building

void TForm2::build_() {
    GroupBox1 = named(new QGroupBox(u8("Установки канала ")), "GroupBox1");
    Label1 = named(new QLabel(u8("Путь к файлам:")), "Label1");
    Edit1 = named(new QLineEdit, "Edit1");
    Edit1->setReadOnly(true);
    Edit1->setMinimumWidth(charsWide(*Edit1, 28));
    Button2 = button("Button2", "Выбрать");
    Label8 = named(new QLabel(u8("Префикс файла:")), "Label8");
    Edit8 = named(new QLineEdit, "Edit8");
    CheckBox1 = named(new QCheckBox(u8("Компрессор")), "CheckBox1");
    Label2 = named(new QLabel(u8("К1:")), "Label2");
    Edit2 = numberEdit("Edit2", 5);
    Label3 = named(new QLabel(u8("К2:")), "Label3");
    Edit3 = numberEdit("Edit3", 5);
    BitBtn3 = button("BitBtn3", "Установка К1 и К2");
    CheckBox4 = named(new QCheckBox(u8("AGC (АРУ)")), "CheckBox4");
    CheckBox2 = named(new QCheckBox(u8("Детектор импульсного набора")), "CheckBox2");
    BitBtn4 = button("BitBtn4", "Порог детектора имп. набора");
    CheckBox5 = named(new QCheckBox(u8("Детектор АОН")), "CheckBox5");
    CheckBox3 = named(new QCheckBox(u8("Детектор DTMF")), "CheckBox3");
    CheckBox7 = named(new QCheckBox(u8("Вкл. детекторы при записи")), "CheckBox7");
    RadioGroup1 = named(new QGroupBox(u8("Запись по:")), "RadioGroup1");
    RadioItems = new QButtonGroup(this);
    const char* items[] = {"Уровню", "Голосу", "ID", "Времени"};
    auto* radios = new QHBoxLayout(RadioGroup1);
    for (int i = 0; i < app::kRecordModes; ++i) {
        Radio[std::size_t(i)] = new QRadioButton(u8(items[i]));
        Radio[std::size_t(i)]->setObjectName(QString("RadioItem%1").arg(i));
        RadioItems->addButton(Radio[std::size_t(i)], i);
        radios->addWidget(Radio[std::size_t(i)]);
    }
    Cmb = named(new QCheckBox(u8("Комбинир.")), "Cmb");
    radios->addSpacing(charsWide(*Cmb, 1));
    radios->addWidget(Cmb);
    radios->addStretch();

    Label4 = named(new QLabel(u8("Время задержки записи")), "Label4");
    TrackBar1 = named(new QSlider(Qt::Horizontal), "TrackBar1");
    TrackBar1->setRange(app::kStartDelayMin, app::kStartDelayMax);
    Edit4 = numberEdit("Edit4", 4, true);
    Label7 = named(new QLabel(u8("секунд")), "Label7");
    Label5 = named(new QLabel(u8("Время задержки стоп")), "Label5");
    TrackBar2 = named(new QSlider(Qt::Horizontal), "TrackBar2");
    TrackBar2->setRange(app::kStopDelayMin, app::kStopDelayMax);
    Edit5 = numberEdit("Edit5", 4, true);
    Label14 = named(new QLabel(u8("секунд")), "Label14");
    for (QSlider* s : {TrackBar1, TrackBar2}) {
        s->setSingleStep(1);
        s->setPageStep(10);
        s->setTickPosition(QSlider::TicksBelow);
        s->setTickInterval(10);
        s->setMinimumWidth(charsWide(*s, 24));
    }
    Label9 = named(new QLabel(u8("Буфер до записи, с")), "Label9");
    Edit9 = numberEdit("Edit9", 4);
    Label6 = named(new QLabel(u8("Максимальное время записи, мин:")), "Label6");
    Edit6 = numberEdit("Edit6", 4);
    Label10 = named(new QLabel(u8("Минимальное время записи, с:")), "Label10");
    Edit10 = numberEdit("Edit10", 4);

    GroupBox2 = named(new QGroupBox(u8("Параметры сжатия МР3")), "GroupBox2");
    Label11 = named(new QLabel("BitRate"), "Label11");
    ComboBox1 = named(new QComboBox, "ComboBox1");
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    for (auto c : app::kBitrateChoices) ComboBox1->addItem(qs(c));
    BitrateNote = named(new QLabel, "BitrateNote");
    Label12 = named(new QLabel(u8("Качество:")), "Label12");
    ComboBox2 = named(new QComboBox, "ComboBox2");
    for (auto c : app::kQualityChoices) ComboBox2->addItem(qs(c));
    ComboBox2->setCurrentIndex(3);
    CheckBox6 = named(new QCheckBox(u8("Без сжатия MP3")), "CheckBox6");
    GroupBox3 = named(new QGroupBox(u8("Параметры файлов без сжатия")), "GroupBox3");
    Label13 = named(new QLabel(u8("Бит на отсчет:")), "Label13");
    ComboBox3 = named(new QComboBox, "ComboBox3");
    ComboBox3->setEditable(true);
    ComboBox3->setInsertPolicy(QComboBox::NoInsert);
    for (auto c : app::kBitsChoices) ComboBox3->addItem(qs(c));
    BitBtn2 = button("BitBtn2", "Установка порога");

    BitBtn1 = named(new QPushButton(u8("ВВОД")), "BitBtn1");
    BitBtn1->setDefault(true);

    GroupBox4 = named(new QGroupBox(u8("Плагины:")), "GroupBox4");
    plg_list = named(new QTreeWidget, "plg_list");
    plg_list->setRootIsDecorated(false);
    plg_list->setHeaderLabels({u8("Название")});
    BitBtn5 = button("BitBtn5", "Добавить");
    BitBtn6 = button("BitBtn6", "Удалить");
    BitBtn7 = button("BitBtn7", "На контроль");

    GroupBox5 = named(new QGroupBox(u8("Запись по времени")), "GroupBox5");
    prds = named(new QTableWidget(0, 2), "prds");
    prds->setHorizontalHeaderLabels({"START", "STOP"});
    prds->verticalHeader()->hide();
    prds->setSelectionBehavior(QAbstractItemView::SelectRows);
    prds->setSelectionMode(QAbstractItemView::SingleSelection);
    prds->setEditTriggers(QAbstractItemView::NoEditTriggers);
    prds->setShowGrid(true);
    prds->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    BitBtn8 = button("BitBtn8", "Добавить");
    BitBtn9 = button("BitBtn9", "Удалить");
    BitBtn10 = button("BitBtn10", "Нарезать по часу");
    for (QAbstractItemView* list : std::initializer_list<QAbstractItemView*>{plg_list, prds}) {
        const QFontMetrics fm(list->font());
        list->setMinimumSize(fm.averageCharWidth() * 26, fm.lineSpacing() * 7);
    }

    // GroupBox1: one row per line of settings.
    auto* g = new QGridLayout(GroupBox1);
    int r = 0;
    g->addWidget(Label1, r, 0);
    g->addWidget(Edit1, r, 1, 1, 4);
    g->addWidget(Button2, r++, 5);
    g->addWidget(Label8, r, 0);
    g->addWidget(Edit8, r++, 1, 1, 2);
    {
        auto* line = new QHBoxLayout;
        line->addWidget(CheckBox1);
        line->addWidget(Label2);
        line->addWidget(Edit2);
        line->addWidget(Label3);
        line->addWidget(Edit3);
        line->addWidget(BitBtn3);
        line->addWidget(CheckBox4);
        line->addStretch();
        g->addLayout(line, r++, 0, 1, 6);
    }
    {
        auto* line = new QHBoxLayout;
        line->addWidget(CheckBox2);
        line->addWidget(BitBtn4);
        line->addStretch();
        g->addLayout(line, r++, 0, 1, 6);
    }
    {
        auto* line = new QHBoxLayout;
        line->addWidget(CheckBox5);
        line->addWidget(CheckBox3);
        line->addWidget(CheckBox7);
        line->addStretch();
        g->addLayout(line, r++, 0, 1, 6);
    }
    g->addWidget(RadioGroup1, r++, 0, 1, 6);
    g->addWidget(Label4, r, 0);
    g->addWidget(TrackBar1, r, 1, 1, 3);
    g->addWidget(Edit4, r, 4);
    g->addWidget(Label7, r++, 5);
    g->addWidget(Label5, r, 0);
    g->addWidget(TrackBar2, r, 1, 1, 3);
    g->addWidget(Edit5, r, 4);
    g->addWidget(Label14, r++, 5);
    {
        auto* times = new QGridLayout;
        times->addWidget(Label9, 0, 0);
        times->addWidget(Edit9, 0, 1);
        times->addWidget(Label6, 1, 0);
        times->addWidget(Edit6, 1, 1);
        times->addWidget(Label10, 2, 0);
        times->addWidget(Edit10, 2, 1);
        times->setColumnStretch(2, 1);
        g->addLayout(times, r++, 0, 1, 6);
    }
    {
        auto* mp3 = new QGridLayout(GroupBox2);
        mp3->addWidget(Label11, 0, 0);
        mp3->addWidget(ComboBox1, 0, 1);
        mp3->addWidget(BitrateNote, 0, 2);
        mp3->addWidget(Label12, 1, 0);
        mp3->addWidget(ComboBox2, 1, 1, 1, 2);
        mp3->setColumnStretch(2, 1);
        auto* wav = new QHBoxLayout(GroupBox3);
        wav->addWidget(Label13);
        wav->addWidget(ComboBox3);
        wav->addStretch();
        auto* right = new QVBoxLayout;
        right->addWidget(CheckBox6);
        right->addWidget(GroupBox3);
        right->addStretch();
        auto* line = new QHBoxLayout;
        line->addWidget(GroupBox2, 1);
        line->addLayout(right, 1);
        g->addLayout(line, r++, 0, 1, 6);
    }
    g->addWidget(BitBtn2, r++, 0, 1, 2, Qt::AlignLeft);
    g->setRowStretch(r, 1);  // room the right-hand column leaves goes below the settings
    g->setColumnStretch(2, 1);

    auto* plugins = new QGridLayout(GroupBox4);
    plugins->addWidget(plg_list, 0, 0, 1, 3);
    plugins->addWidget(BitBtn5, 1, 0);
    plugins->addWidget(BitBtn6, 1, 1);
    plugins->addWidget(BitBtn7, 1, 2);
    auto* periods = new QGridLayout(GroupBox5);
    periods->addWidget(prds, 0, 0, 1, 2);
    periods->addWidget(BitBtn8, 1, 0);
    periods->addWidget(BitBtn9, 1, 1);
    periods->addWidget(BitBtn10, 2, 0, 1, 2);

    auto* layout = new QGridLayout(this);
    layout->addWidget(GroupBox1, 0, 0, 3, 1);
    layout->addWidget(GroupBox4, 0, 1);
    layout->addWidget(GroupBox5, 1, 1);
    layout->addWidget(BitBtn1, 2, 1, Qt::AlignRight | Qt::AlignBottom);
    layout->setRowStretch(0, 1);
    layout->setRowStretch(1, 1);

    // Tab order: down the settings, then the plug-ins, the schedule and "ВВОД".
    const std::vector<QWidget*> order{
        Edit8,     Button2,   CheckBox1, Edit2,    Edit3,     BitBtn3,   CheckBox4, CheckBox2, BitBtn4,
        CheckBox5, CheckBox3, CheckBox7, Radio[0], Radio[1],  Radio[2],  Radio[3],  Cmb,       TrackBar1,
        TrackBar2, Edit9,     Edit6,     Edit10,   ComboBox1, ComboBox2, CheckBox6, ComboBox3, BitBtn2,
        plg_list,  BitBtn5,   BitBtn6,   BitBtn7,  prds,      BitBtn8,   BitBtn9,   BitBtn10,  BitBtn1};
    for (std::size_t i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);
    Edit1->setFocusPolicy(Qt::ClickFocus);  // shown, not typed in
    Edit4->setFocusPolicy(Qt::NoFocus);
    Edit5->setFocusPolicy(Qt::NoFocus);
}

void TForm2::connect_() {
    auto toggled = [this](QCheckBox* box, void (app::ChannelDialogModel::*set)(bool)) {
        connect(box, &QCheckBox::toggled, this, [this, set](bool on) {
            if (model_) (model_.get()->*set)(on);
        });
    };
    toggled(CheckBox2, &app::ChannelDialogModel::SetPulse);
    toggled(CheckBox5, &app::ChannelDialogModel::SetCallerId);
    toggled(CheckBox3, &app::ChannelDialogModel::SetDtmf);
    toggled(CheckBox7, &app::ChannelDialogModel::SetDetectOnlyWhileRecording);
    connect(RadioItems, &QButtonGroup::idClicked, this, [this](int mode) {
        if (model_) model_->SetRecordMode(mode);
    });
    connect(CheckBox6, &QCheckBox::toggled, this, [this](bool on) {
        if (model_) model_->SetUncompressed(on);
        GroupBox3->setVisible(on);
    });
    connect(TrackBar1, &QSlider::valueChanged, this, [this](int position) {
        if (!model_) return;
        model_->SetStartDelayPosition(position);
        Edit4->setText(qs(model_->fields.startDelay));
    });
    connect(TrackBar2, &QSlider::valueChanged, this, [this](int position) {
        if (!model_) return;
        model_->SetStopDelayPosition(position);
        Edit5->setText(qs(model_->fields.stopDelay));
    });
    connect(ComboBox1, &QComboBox::currentTextChanged, this, [this](const QString& text) {
        if (!model_) return;
        model_->fields.bitrate = text.toStdString();
        showEffectiveBitrate_();
    });
    connect(Button2, &QPushButton::clicked, this, &TForm2::chooseFolder_);
    connect(BitBtn2, &QPushButton::clicked, this, [this] {
        if (model_) emit thresholdWindowRequested(model_->ChannelNumber(), false);
    });
    connect(BitBtn4, &QPushButton::clicked, this, [this] {
        if (model_) emit thresholdWindowRequested(model_->ChannelNumber(), true);
    });
    connect(BitBtn3, &QPushButton::clicked, this, [this] {
        if (model_) emit coefficientsWindowRequested(model_->ChannelNumber());
    });
    connect(BitBtn5, &QPushButton::clicked, this, &TForm2::addPlugin_);
    connect(BitBtn6, &QPushButton::clicked, this, &TForm2::removePlugin_);
    connect(BitBtn7, &QPushButton::clicked, this, &TForm2::editControlList_);
    connect(BitBtn8, &QPushButton::clicked, this, &TForm2::addPeriod_);
    connect(BitBtn9, &QPushButton::clicked, this, &TForm2::removePeriod_);
    connect(BitBtn10, &QPushButton::clicked, this, &TForm2::cut_);
    connect(BitBtn1, &QPushButton::clicked, this, &TForm2::confirm_);
}

// ---------------------------------------------------------------------------------------------
// Loading and captions

bool TForm2::Load(int k) {
    app::Tkanal* row = core_.Row(k);
    if (!row) return false;
    model_ = std::make_unique<app::ChannelDialogModel>(*row, core_.Settings(), core_.Files());
    model_->Load(k);
    finished_ = false;
    ApplyLanguage(core_.Settings().Language);
    fill_();
    refreshPeriods_();
    refreshPlugins_();
    adjustSize();
    return true;
}

void TForm2::ApplyLanguage(const std::string& language) {
    language_ = language;
    if (!model_) return;
    model_->LoadCaptions(language);
    auto apply = [this](int n, auto&& setter) {
        if (const std::string t = model_->Caption(n); !t.empty()) setter(qs(t));
    };
    apply(41, [this](const QString& t) { setWindowTitle(t); });
    apply(42, [this](const QString& t) { Label1->setText(t); });
    apply(43, [this](const QString& t) { Label8->setText(t); });
    apply(44, [this](const QString& t) { Label4->setText(t); });
    apply(45, [this](const QString& t) { Label5->setText(t); });
    apply(46, [this](const QString& t) { Label9->setText(t); });
    apply(47, [this](const QString& t) { Label7->setText(t), Label14->setText(t); });
    apply(48, [this](const QString& t) { Label6->setText(t); });
    apply(49, [this](const QString& t) { Label10->setText(t); });
    apply(50, [this](const QString& t) { Button2->setText(t); });
    apply(51, [this](const QString& t) { BitBtn4->setText(t); });
    apply(52, [this](const QString& t) { BitBtn3->setText(t); });
    apply(53, [this](const QString& t) { BitBtn2->setText(t); });
    apply(54, [this](const QString& t) { BitBtn1->setText(t); });
    apply(55, [this](const QString& t) { BitBtn5->setText(t); });
    apply(56, [this](const QString& t) { BitBtn6->setText(t); });
    apply(57, [this](const QString& t) { BitBtn7->setText(t); });
    apply(58, [this](const QString& t) { CheckBox1->setText(t); });
    apply(59, [this](const QString& t) { CheckBox2->setText(t); });
    apply(60, [this](const QString& t) { CheckBox5->setText(t); });
    apply(61, [this](const QString& t) { CheckBox3->setText(t); });
    apply(62, [this](const QString& t) { CheckBox7->setText(t); });
    apply(63, [this](const QString& t) { CheckBox6->setText(t); });
    apply(64, [this](const QString& t) { GroupBox2->setTitle(t); });
    apply(65, [this](const QString& t) { Label12->setText(t); });
    apply(66, [this](const QString& t) { Label13->setText(t); });
    apply(67, [this](const QString& t) { GroupBox3->setTitle(t); });
    apply(68, [this](const QString& t) { RadioGroup1->setTitle(t); });
    apply(69, [this](const QString& t) { Radio[0]->setText(t); });
    apply(70, [this](const QString& t) { Radio[1]->setText(t); });
    apply(71, [this](const QString& t) { GroupBox4->setTitle(t); });
    apply(72, [this](const QString& t) { plg_list->setHeaderLabels({t}); });
    apply(124, [this](const QString& t) { CheckBox4->setText(t); });
    apply(125, [this](const QString& t) { Cmb->setText(t); });
    apply(126, [this](const QString& t) { GroupBox5->setTitle(t); });
    apply(127, [this](const QString& t) { BitBtn10->setText(t); });
    apply(134, [this](const QString& t) { Radio[3]->setText(t); });
    // The schedule's buttons read as the plug-in buttons do.
    BitBtn8->setText(BitBtn5->text());
    BitBtn9->setText(BitBtn6->text());
    GroupBox1->setTitle(qs(model_->fields.groupCaption));
    if (!model_->FolderChoosable()) Edit1->setText(qs(model_->fields.folder));
    showEffectiveBitrate_();
    adjustSize();
}

void TForm2::ShowCoefficients() {
    if (!model_) return;
    model_->CoefficientsChanged();
    Edit2->setText(qs(model_->fields.k1));
    Edit3->setText(qs(model_->fields.k2));
}

void TForm2::fill_() {
    const app::ChannelDialogFields& f = model_->fields;
    // The model has acted on what Load shows; the handlers stay quiet while the controls follow.
    std::vector<std::unique_ptr<QSignalBlocker>> quiet;
    for (QObject* o :
         std::initializer_list<QObject*>{CheckBox1, CheckBox2, CheckBox3, CheckBox4, CheckBox5, CheckBox6, CheckBox7,
                                         Cmb, RadioItems, TrackBar1, TrackBar2, ComboBox1, ComboBox2, ComboBox3})
        quiet.push_back(std::make_unique<QSignalBlocker>(o));
    Edit1->setText(qs(f.folder));
    Button2->setEnabled(model_->FolderChoosable());
    Edit8->setText(qs(f.prefix));
    CheckBox1->setChecked(f.compressor);
    Edit2->setText(qs(f.k1));
    Edit3->setText(qs(f.k2));
    CheckBox4->setChecked(f.agc);
    CheckBox2->setChecked(f.pulse);
    CheckBox5->setChecked(f.callerId);
    CheckBox3->setChecked(f.dtmf);
    CheckBox7->setChecked(f.detectOnlyWhileRecording);
    Radio[std::size_t(f.recordMode)]->setChecked(true);
    Cmb->setChecked(f.combined);
    TrackBar1->setValue(f.startDelayPosition);
    TrackBar2->setValue(f.stopDelayPosition);
    Edit4->setText(qs(f.startDelay));
    Edit5->setText(qs(f.stopDelay));
    Edit9->setText(qs(f.preRecordSeconds));
    Edit6->setText(qs(f.maxMinutes));
    Edit10->setText(qs(f.minSeconds));
    ComboBox1->setEditText(qs(f.bitrate));
    if (!f.quality.empty()) ComboBox2->setCurrentText(qs(f.quality));
    CheckBox6->setChecked(f.uncompressed);
    GroupBox3->setVisible(f.uncompressed);
    ComboBox3->setEditText(qs(f.bits));
    quiet.clear();
    showEffectiveBitrate_();
}

void TForm2::collect_() {
    if (!model_) return;
    app::ChannelDialogFields& f = model_->fields;
    f.prefix = Edit8->text().toStdString();
    f.compressor = CheckBox1->isChecked();
    f.k1 = Edit2->text().toStdString();
    f.k2 = Edit3->text().toStdString();
    f.agc = CheckBox4->isChecked();
    f.combined = Cmb->isChecked();
    f.preRecordSeconds = Edit9->text().toStdString();
    f.maxMinutes = Edit6->text().toStdString();
    f.minSeconds = Edit10->text().toStdString();
    f.bitrate = ComboBox1->currentText().toStdString();
    f.quality = ComboBox2->currentText().toStdString();
    f.uncompressed = CheckBox6->isChecked();
    f.bits = ComboBox3->currentText().toStdString();
}

void TForm2::showEffectiveBitrate_() {
    if (!model_) return;
    const auto kbps = model_->EffectiveBitrate();
    const bool russian = language_ == "Russian";
    BitrateNote->setText(!kbps ? QString()
                               : (russian ? u8("кодируется %1 кбит/с") : QString("encoded at %1 kbit/s")).arg(*kbps));
}

// ---------------------------------------------------------------------------------------------
// Messages, lists

void TForm2::show_(const app::ApplyResult& result) {
    for (const auto& note : result.notes) showNote(qs(note.text));
}

void TForm2::show_(const std::optional<app::DialogNote>& note) {
    if (note) showNote(qs(note->text));
}

void TForm2::refreshPeriods_() {
    prds->setRowCount(0);
    if (!model_) return;
    for (const auto& [start, stop] : model_->Periods()) {
        const int r = prds->rowCount();
        prds->insertRow(r);
        prds->setItem(r, 0, new QTableWidgetItem(qs(start)));
        prds->setItem(r, 1, new QTableWidgetItem(qs(stop)));
    }
}

void TForm2::refreshPlugins_() {
    plg_list->clear();
    if (!model_) return;
    for (const auto& name : model_->ChannelPlugins()) plg_list->addTopLevelItem(new QTreeWidgetItem({qs(name)}));
}

// ---------------------------------------------------------------------------------------------
// Buttons

void TForm2::chooseFolder_() {
    if (!model_ || !model_->FolderChoosable()) return;
    TForm3 picker(Edit1->text(), core_.Files().programFolder, language_, this);
    if (picker.exec() != QDialog::Accepted) return;
    model_->ChooseFolder(picker.Folder().toStdString());
    Edit1->setText(qs(model_->fields.folder));
}

void TForm2::addPlugin_() {
    if (!model_) return;
    TPLUGINFORM chooser(model_->PluginCatalogue(), core_.Files().programFolder, language_, this);
    if (chooser.exec() == QDialog::Accepted)
        if (const std::string name = chooser.Selected(); !name.empty()) model_->AddPlugin(name);
    refreshPlugins_();
}

void TForm2::removePlugin_() {
    if (!model_) return;
    if (const QTreeWidgetItem* item = plg_list->currentItem()) model_->RemovePlugin(item->text(0).toStdString());
    refreshPlugins_();
}

void TForm2::editControlList_() {
    if (!model_) return;
    TCTL editor(this);
    editor.Prepare(model_->ChannelNumber(), model_->ControlListFile(), language_);
    editor.exec();
    model_->ControlListEdited();
}

void TForm2::addPeriod_() {
    if (!model_) return;
    Tperiod input(core_.Files().programFolder, language_, this);
    if (input.exec() != QDialog::Accepted) return;
    show_(model_->AddPeriod(input.start->text().toStdString(), input.stop->text().toStdString()));
    refreshPeriods_();
}

void TForm2::removePeriod_() {
    if (!model_) return;
    const int r = prds->currentRow();
    if (r < 0 || !prds->item(r, 0) || !prds->item(r, 1)) return;
    show_(model_->RemovePeriod(prds->item(r, 0)->text().toStdString(), prds->item(r, 1)->text().toStdString()));
    refreshPeriods_();
}

void TForm2::cut_() {
    if (!model_) return;
    Tnarez input(core_.Files().programFolder, language_, this);
    if (input.exec() != QDialog::Accepted) return;
    show_(model_->Cut(input.Edit1->text().toStdString()));
    refreshPeriods_();
}

// ---------------------------------------------------------------------------------------------
// Closing

void TForm2::confirm_() {
    if (!model_ || finished_) return;
    collect_();
    const app::ApplyResult result = model_->Confirm();
    ComboBox1->setEditText(qs(model_->fields.bitrate));  // "16" after an unreadable rate
    show_(result);
    finished_ = true;
    QDialog::done(QDialog::Accepted);
}

void TForm2::closeEvent(QCloseEvent* event) {
    if (model_ && !finished_) {
        collect_();
        show_(model_->Closing());
        finished_ = true;
    }
    event->accept();
    QDialog::done(QDialog::Accepted);
}

void TForm2::reject() {
    finished_ = true;
    QDialog::reject();
}

}  // namespace kestavo::ui
