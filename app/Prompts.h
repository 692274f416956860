#pragma once
// The questions the program puts to the user: message boxes, the port question and the choice
// of the HEX file. They are shown by a replaceable host, so that tests answer from a script.

#include <QString>

#include <functional>
#include <memory>

class QWidget;

enum class PromptKind {
    Message,      // text and an OK button
    OkCancel,     // text with OK and Cancel
    PortQuestion, // the port name, Yes and No, the device path as detail
    OpenHexFile,  // the open-file dialog
};

struct Prompt {
    PromptKind kind = PromptKind::Message;
    QString text;
    QString caption;
    QString detail;
    // Asked by the user-interface thread itself, which waits for the answer: the dialog must not
    // take input meanwhile. Questions from the job thread leave the dialog usable.
    bool modal = false;
};

struct PromptAnswer {
    bool accepted = false; // OK or Yes
    QString path;          // the chosen file
};

using PromptReply = std::function<void(const PromptAnswer&)>;

class PromptHost {
public:
    virtual ~PromptHost() = default;
    // Runs on the user-interface thread. Shows the prompt and calls reply once, when it is
    // answered; reply may run before Show returns.
    virtual void Show(QWidget* parent, const Prompt& prompt, PromptReply reply) = 0;
    // The dialog is ending: close whatever is still open without answering.
    virtual void Dismiss() = 0;
};

// Message boxes and a file dialog of the toolkit.
std::unique_ptr<PromptHost> MakeBoxPrompts();

// Caption of the boxes of the job and of EXIT.
inline constexpr const char* AppTitle = "Tervix";
