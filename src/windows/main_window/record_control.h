#pragma once

#include <QObject>
#include <QString>

class QAction;
class QLabel;

namespace pondara {

class MainForm;
class MessageSink;
class ModuleLink;
class Recorder;

// The main window's recording: the readouts' "开始记录…" / "停止记录" entry
// and Ctrl+R, the folder chooser, the record_state label with the file in
// its tooltip, and the message when a recording stops on an error.
class RecordControl : public QObject {
    Q_OBJECT

public:
    RecordControl(MainForm& window, QLabel* state, MessageSink& messages);

    // The parameters dialog's link is recorded too while it lives.
    void watch(ModuleLink& link);

    // Starts a recording in `folder` for the port and address in the boxes.
    bool start(const QString& folder);
    void stop();
    bool recording() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void toggle();
    void choose_folder();
    void show_state();

    MainForm& m_window;
    QLabel* m_state;
    MessageSink& m_messages;
    Recorder* m_recorder;
    QAction* m_action;
};

}  // namespace pondara
