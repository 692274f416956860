#pragma once
// A prompt host that records every prompt and answers from the test's script: a fixed answer
// per kind, or held open until the test answers it or the program closes it.

#include "app/qt/PromptHost.h"

#include <QString>

#include <string>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

class ScriptedPrompts final : public PromptHost {
public:
    // The state lives apart from the host, which the dialog owns and destroys.
    struct Script {
        std::mutex lock;
        std::map<PromptKind, PromptAnswer> answers; // kinds without an entry are held
        std::vector<Prompt> asked;
        // Open prompts, by their place in asked.
        std::vector<std::pair<std::size_t, PromptReply>> held;
        std::vector<Prompt> closed;
    };

    explicit ScriptedPrompts(std::shared_ptr<Script> script) : script_(std::move(script)) {}

    PromptCloser Show(QWidget* parent, const Prompt& prompt, PromptReply reply) override;
    void Dismiss() override;

private:
    std::shared_ptr<Script> script_;
};

// What a test keeps: sets the answers, reads what was asked, answers held prompts.
class PromptScript {
public:
    PromptScript();
    std::unique_ptr<PromptHost> MakeHost() const;

    void Answer(PromptKind kind, bool accepted, const QString& path = {});
    void Hold(PromptKind kind);
    // Answers the oldest held prompt; false when none is held.
    bool AnswerHeld(bool accepted, const QString& path = {});
    int HeldCount() const;

    std::vector<Prompt> Asked() const;
    // The prompts that the program closed unanswered, in order.
    std::vector<Prompt> Closed() const;
    // The texts of the prompts of one kind, in order.
    std::vector<QString> Texts(PromptKind kind) const;

private:
    std::shared_ptr<ScriptedPrompts::Script> script_;
};
