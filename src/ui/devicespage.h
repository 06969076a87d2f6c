#pragma once

#include <QString>
#include <QWidget>

#include <functional>

class QLabel;
class QStackedWidget;
class QVBoxLayout;

namespace zorvi {

class DaemonClient;

// The panel page that lists the phones and computers paired with the
// e-reader, each with the date it was paired and a button to disconnect it,
// and asks before it disconnects one. It has two pages of its own: the list
// and the confirmation question.
class DevicesPage : public QWidget {
public:
    // The client belongs to the panel and must outlive the page. Makes no
    // request; refresh() fills the list.
    DevicesPage(DaemonClient *client, int unit, QWidget *parent);
    ~DevicesPage() override;

    // Reloads the list from the daemon and shows it.
    void refresh();

private:
    void clearRows();
    void addRow(const QString &id, const QString &name, const QString &detail);
    void askDisconnect(const QString &id, const QString &name);
    void confirmDisconnect();

    DaemonClient *client;
    int unit;
    QStackedWidget *stack;
    QVBoxLayout *listLayout;
    QLabel *introLabel;
    QLabel *questionLabel;
    // The device whose disconnection is being asked about.
    QString pendingId;

public:
    // Called by the Back button when set; the panel goes home with it.
    std::function<void()> onBack;
};

} // namespace zorvi
