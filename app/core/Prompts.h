#pragma once
// The questions the program puts to the user: message boxes, the port question and the choice
// of the HEX file. Each face shows them in its toolkit's boxes; tests answer from a script.
// Texts and paths are in the program's narrow encoding, the one the C library's file functions
// and the Windows "A" calls take.

#include <cstdint>
#include <functional>
#include <string>

enum class PromptKind {
    Message,      // text and an OK button
    OkCancel,     // text with OK and Cancel
    PortQuestion, // the port name, Yes and No, the device path as detail
    OpenHexFile,  // the open-file dialog
};

struct Prompt {
    PromptKind kind = PromptKind::Message;
    std::string text;
    std::string caption;
    std::string detail;
    // Asked by the user-interface thread itself, which waits for the answer: the dialog must not
    // take input meanwhile. Questions from the job thread leave the dialog usable.
    bool modal = false;
    // The open-file dialog opens here when it is set; it never names a file.
    std::string folder;
    // The job that asks, as DialogLink numbers them; 0 for the dialog's own questions. A job's box
    // goes when the next job starts.
    std::uint32_t job = 0;
};

struct PromptAnswer {
    bool accepted = false; // OK or Yes
    std::string path;      // the chosen file
};

using PromptReply = std::function<void(const PromptAnswer&)>;
// Closes a box that is still open without answering it; does nothing once it has gone.
using PromptCloser = std::function<void()>;

// Caption of the boxes of the job and of EXIT.
inline constexpr const char* AppTitle = "Tervix";
