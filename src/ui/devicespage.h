#pragma once

#include "ui/unitsizes.h"

#include <QString>
#include <QVector>
#include <QWidget>

#include <functional>

class QLabel;
class QStackedWidget;
class QVBoxLayout;

namespace zorvi {

class DaemonClient;
class TouchButton;

// The panel page that lists the phones and computers paired with the
// e-reader, each with the date it was paired and a button to disconnect it,
// and asks before it disconnects one. It has two pages of its own: the list
// and the confirmation question. The list shows a screenful of devices at a
// time, with buttons that turn to the previous and the next screenful, as
// suits an e-ink screen: whole pages, no scrolling.
class DevicesPage : public QWidget {
public:
    // The most devices the page takes from the daemon's list, far more than
    // any owner pairs, so that a daemon cannot make Nickel build without end.
    static constexpr int mostDevices = 1000;

    // The client belongs to the panel and must outlive the page. Makes no
    // request; refresh() fills the list.
    DevicesPage(DaemonClient *client, int unit, QWidget *parent);
    ~DevicesPage() override;

    // Reloads the list from the daemon and shows its first screenful.
    void refresh();
    // Takes the panel's new layout unit, when the reader is turned.
    void setUnit(int unit);

    // Called by the Back button when set; the panel goes home with it.
    std::function<void()> onBack;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Device {
        QString id;
        QString name;
        QString detail;
    };

    void showRows();
    void arrangeRows();
    int rowsThatFit(int height, int rowHeight) const;
    void clearRows();
    QWidget *addRow(const Device &device);
    void askDisconnect(const QString &id, const QString &name);
    void confirmDisconnect();

    DaemonClient *client;
    UnitSizes sizes;
    QStackedWidget *stack;
    QLabel *introLabel;
    // The rows of the screenful shown, in an area that takes the height the
    // page leaves them; below it, the buttons that turn the screenfuls.
    QWidget *rowArea;
    QVBoxLayout *listLayout;
    QWidget *pager;
    TouchButton *previousButton;
    TouchButton *nextButton;
    QLabel *pageLabel;
    QLabel *questionLabel;
    // The devices the daemon listed, the first one shown and how many fit.
    QVector<Device> devices;
    int first = 0;
    int perPage = 0;
    bool arranging = false;
    bool rearrange = false;
    // The device whose disconnection is being asked about.
    QString pendingId;
};

} // namespace zorvi
