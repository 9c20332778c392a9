#pragma once
// TForm2: the settings window of one channel, over app::ChannelDialogModel.
//
// The window shows the model's fields and forwards every control to it: switches, the recording
// mode and the delay sliders act at once; the plug-in, control-list and schedule buttons open the
// small windows (TPLUGINFORM, TCTL, Tperiod, Tnarez, TForm3) and hand what was entered to the
// model, showing the message it answers. "ВВОД" (the default button, so Enter anywhere) applies
// the waiting fields and closes; the close box applies as well, once; Escape closes without
// applying them. The threshold and K1/K2 buttons ask the main window for those windows.
//
// Sizes: every control takes what its text needs in the window's font (layouts and character
// widths, no fixed pixels), so both languages fit at any dpi.
//
// Threads: GUI thread only.
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTableWidget>
#include <QTreeWidget>
#include <array>
#include <functional>
#include <memory>

#include "app/app_core.h"
#include "app/channel_dialog.h"

namespace kestavo::ui {

class TForm2 final : public QDialog {
    Q_OBJECT
public:
    explicit TForm2(app::AppCore& core, QWidget* parent = nullptr);
    ~TForm2() override;

    // Fills the controls from channel k (1-based); false when the core has no such channel.
    bool Load(int k);
    // Captions in `language` (also done by Load with the core's language).
    void ApplyLanguage(const std::string& language);
    [[nodiscard]] app::ChannelDialogModel* Model() noexcept { return model_.get(); }
    // The K1/K2 window changed the channel's coefficients: Edit2 and Edit3 show them.
    void ShowCoefficients();

    // Shows one message; a message box unless replaced (tests collect the texts).
    std::function<void(const QString&)> showNote;

    // Components, named as the window was designed.
    QGroupBox* GroupBox1;
    QLabel* Label1;
    QLineEdit* Edit1;
    QPushButton* Button2;
    QLabel* Label8;
    QLineEdit* Edit8;
    QCheckBox* CheckBox1;
    QLabel* Label2;
    QLineEdit* Edit2;
    QLabel* Label3;
    QLineEdit* Edit3;
    QPushButton* BitBtn3;
    QCheckBox* CheckBox4;
    QCheckBox* CheckBox2;
    QPushButton* BitBtn4;
    QCheckBox* CheckBox5;
    QCheckBox* CheckBox3;
    QCheckBox* CheckBox7;
    QGroupBox* RadioGroup1;
    QButtonGroup* RadioItems;
    std::array<QRadioButton*, app::kRecordModes> Radio{};
    QCheckBox* Cmb;
    QLabel* Label4;
    QSlider* TrackBar1;
    QLineEdit* Edit4;
    QLabel* Label7;
    QLabel* Label5;
    QSlider* TrackBar2;
    QLineEdit* Edit5;
    QLabel* Label14;
    QLabel* Label9;
    QLineEdit* Edit9;
    QLabel* Label6;
    QLineEdit* Edit6;
    QLabel* Label10;
    QLineEdit* Edit10;
    QGroupBox* GroupBox2;
    QLabel* Label11;
    QComboBox* ComboBox1;
    QLabel* BitrateNote;  // the rate the encoder really uses
    QLabel* Label12;
    QComboBox* ComboBox2;
    QCheckBox* CheckBox6;
    QGroupBox* GroupBox3;
    QLabel* Label13;
    QComboBox* ComboBox3;
    QPushButton* BitBtn2;
    QPushButton* BitBtn1;  // "ВВОД"
    QGroupBox* GroupBox4;
    QTreeWidget* plg_list;
    QPushButton* BitBtn5;
    QPushButton* BitBtn6;
    QPushButton* BitBtn7;
    QGroupBox* GroupBox5;
    QTableWidget* prds;
    QPushButton* BitBtn8;
    QPushButton* BitBtn9;
    QPushButton* BitBtn10;

signals:
    // The threshold window for channel k (the pulse threshold when `pulse`).
    void thresholdWindowRequested(int k, bool pulse);
    // The K1/K2 window for channel k.
    void coefficientsWindowRequested(int k);

public slots:
    void reject() override;  // Escape: close without applying the waiting fields

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void build_();
    void connect_();
    void fill_();
    void collect_();
    void show_(const app::ApplyResult& result);
    void show_(const std::optional<app::DialogNote>& note);
    void refreshPeriods_();
    void refreshPlugins_();
    void showEffectiveBitrate_();
    void confirm_();
    void chooseFolder_();
    void addPlugin_();
    void removePlugin_();
    void editControlList_();
    void addPeriod_();
    void removePeriod_();
    void cut_();

    app::AppCore& core_;
    std::unique_ptr<app::ChannelDialogModel> model_;
    std::string language_;
    bool finished_ = false;  // applied (or cancelled) for this showing
};

}  // namespace kestavo::ui
