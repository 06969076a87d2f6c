#pragma once

#include "daemon/daemonclient.h"
#include "ui/unitsizes.h"

#include <QWidget>

class QLabel;
class QStackedWidget;
class QTimer;

namespace zorvi {

class DevicesPage;
class ElidedLabel;
class QrView;
class TouchButton;

// The add-on's full-screen panel, laid over Nickel's window: the home page
// with the daemon's state and the update section, the pairing page, the
// pairing result page and the connected-devices page. It is created on the
// first tap on a status icon of its window, reused on every later one, and
// only ever hidden. It covers the window whatever its shape: every size of
// the panel derives from the window's height, taken again each time the
// panel opens and whenever the window is resized while it is open, as when
// the reader is turned. In a language written right to left, its pages are
// laid out right to left.
class Panel : public QWidget {
public:
    explicit Panel(QWidget *parent);
    ~Panel() override;

    // Shows the panel over the whole window, on its home page, in the
    // language Nickel is set to now.
    void open();
    // Probes the daemon, refreshes the home page and shows it.
    void showHome();
    // Stops polling and hides the panel.
    void dismiss();
    // Covers the window, with sizes that derive from its height.
    void fitToWindow();

    // Pairing (pairing page and result page).
    void beginPairing();
    void pollPairing();

    // The update section of the home page.
    void refreshUpdate();
    void requestUpdateCheck();
    void restartAndInstall();

    // The panel's parts, used by its pages' operations and by tests.
    DaemonClient client;
    QStackedWidget *stack;
    QLabel *homeStatusLabel;
    TouchButton *connectButton;
    TouchButton *devicesButton;
    QLabel *updateLabel;
    TouchButton *restartButton;
    TouchButton *checkButton;
    ElidedLabel *versionLabel;
    TouchButton *closeButton;
    DevicesPage *devicesPage;
    QrView *qrView;
    QLabel *codeLabel;
    QLabel *instructionLabel;
    QLabel *urlLabel;
    QLabel *validityLabel;
    TouchButton *pairingDoneButton;
    QLabel *resultTitleLabel;
    QLabel *resultMessageLabel;
    TouchButton *resultDoneButton;
    QTimer *pairingTimer;
    QTimer *updateTimer;
    bool checkRequested = false;

    // Page indices of the stack.
    enum Page { HomePage = 0, PairingPage = 1, ResultPage = 2, DevicesListPage = 3 };

protected:
    void paintEvent(QPaintEvent *) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    UnitSizes sizes;
    // The family the style sheet names for the current language, if any.
    QString fontFamily;
};

// The panel laid over window, or null. Looked up by its object name among the
// window's children: the panel has no meta-object of its own, so
// qobject_cast would take any widget for one, and a dynamic_cast would rely
// on Nickel's classes carrying type information.
Panel *panelOf(QWidget *window);
constexpr const char panelName[] = "zorviPanel";

// Whether a panel shows its pairing page now, in any window: while it does,
// Wi-Fi must stay on for the phone that scans it (nickel/wifikeeper.h).
bool pairingPageOpen();

// The panel's layout unit in pixels for a window of the given height, from
// which every font size, margin and spacing derives.
int panelUnit(int windowHeight);

// The panel's style sheet for a layout unit, and a font family for its texts
// when the host's own cannot show them (none when empty).
QString panelStyleSheet(int unit, const QString &family = QString());

} // namespace zorvi
