#pragma once

#include "scan/module_scan.h"
#include "serial/port_object.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace pondara {

// What the scan window needs of the main window, whose port it borrows.
struct ScanHost {
    // The port number box's text, the scan's default port.
    std::function<QString()> port_text;
    // The machine's ports as "1 = /dev/ttyUSB0" lines.
    std::function<QStringList()> list_ports;
    // Why no scan may start now (another window holds the port), or empty.
    std::function<QString()> cannot_start;
    // Closes the main window's port for the scan; returns whether it was open.
    std::function<bool()> borrow_port;
    // After the scan: opens the main window's port again when it was open.
    std::function<void(bool was_open)> give_back_port;
    // Puts a port number and a module address into the main window's boxes.
    std::function<void(int port_number, int address)> use;
};

// "查找模块 - PondaraV6": scans a port's addresses, or every port, for
// modules, with the main window's polling paused meanwhile, and lists what
// answered.
class ScanWindow : public QWidget {
    Q_OBJECT

public:
    // The choice of the port box that scans every port of the machine.
    static inline const QString all_ports = QStringLiteral("所有串口");

    ScanWindow(ScanHost host, PortFactory make_port, QWidget* parent = nullptr);
    ~ScanWindow() override;

    // Closes the window with its scan stopped and the port left closed:
    // the main window is closing too.
    void close_without_hand_back();

    ModuleScan& scan() { return m_scan; }

public slots:
    void start_Click();
    void stop_Click();
    void use_Click();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void build_controls();
    void fill_port_choices();
    std::optional<ModuleScan::Plan> read_plan();
    void add_row(const ScanFind& find);
    void note(const QString& line);
    void finished(bool stopped);
    void running_controls(bool running);

    ScanHost m_host;
    ModuleScan m_scan;
    bool m_borrowed = false;  // the main window's port was open when the scan took it
    bool m_hand_back = true;
    QStringList m_notes;

    QComboBox* m_port = nullptr;
    QLineEdit* m_first = nullptr;
    QLineEdit* m_last = nullptr;
    QLineEdit* m_wait = nullptr;
    QPushButton* m_start = nullptr;
    QPushButton* m_stop = nullptr;
    QPushButton* m_use = nullptr;
    QProgressBar* m_progress = nullptr;
    QTableWidget* m_results = nullptr;
    QLabel* m_status = nullptr;
};

}  // namespace pondara
