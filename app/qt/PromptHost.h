#pragma once
// Where the Qt face shows the core's questions: a replaceable host, so that tests answer from a
// script.

#include "app/core/Prompts.h"

#include <memory>

class QWidget;

class PromptHost {
public:
    virtual ~PromptHost() = default;
    // Runs on the user-interface thread. Shows the prompt and calls reply once, when it is
    // answered; reply may run before Show returns. The closer takes the box away unanswered.
    virtual PromptCloser Show(QWidget* parent, const Prompt& prompt, PromptReply reply) = 0;
    // The dialog is ending: close whatever is still open without answering.
    virtual void Dismiss() = 0;
};

// Message boxes and a file dialog of the toolkit.
std::unique_ptr<PromptHost> MakeBoxPrompts();
