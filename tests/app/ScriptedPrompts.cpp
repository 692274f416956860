#include "tests/app/ScriptedPrompts.h"

#include <QFile>

#include <algorithm>

PromptCloser ScriptedPrompts::Show(QWidget*, const Prompt& prompt, PromptReply reply) {
    std::optional<PromptAnswer> answer;
    std::size_t number = 0;
    {
        std::lock_guard<std::mutex> guard(script_->lock);
        number = script_->asked.size();
        script_->asked.push_back(prompt);
        if (auto it = script_->answers.find(prompt.kind); it != script_->answers.end()) {
            answer = it->second;
        } else {
            script_->held.emplace_back(number, std::move(reply));
        }
    }
    if (answer) {
        reply(*answer);
        return {};
    }
    return [script = script_, number] {
        std::lock_guard<std::mutex> guard(script->lock);
        const auto open = std::find_if(script->held.begin(), script->held.end(),
                                       [&](const auto& held) { return held.first == number; });
        if (open != script->held.end()) {
            script->held.erase(open);
            script->closed.push_back(script->asked[number]);
        }
    };
}

void ScriptedPrompts::Dismiss() {
    std::lock_guard<std::mutex> guard(script_->lock);
    script_->held.clear();
}

PromptScript::PromptScript() : script_(std::make_shared<ScriptedPrompts::Script>()) {}

std::unique_ptr<PromptHost> PromptScript::MakeHost() const {
    return std::make_unique<ScriptedPrompts>(script_);
}

void PromptScript::Answer(PromptKind kind, bool accepted, const QString& path) {
    std::lock_guard<std::mutex> guard(script_->lock);
    script_->answers[kind] = PromptAnswer{accepted, QFile::encodeName(path).toStdString()};
}

void PromptScript::Hold(PromptKind kind) {
    std::lock_guard<std::mutex> guard(script_->lock);
    script_->answers.erase(kind);
}

bool PromptScript::AnswerHeld(bool accepted, const QString& path) {
    PromptReply reply;
    {
        std::lock_guard<std::mutex> guard(script_->lock);
        if (script_->held.empty()) {
            return false;
        }
        reply = std::move(script_->held.front().second);
        script_->held.erase(script_->held.begin());
    }
    reply(PromptAnswer{accepted, QFile::encodeName(path).toStdString()});
    return true;
}

int PromptScript::HeldCount() const {
    std::lock_guard<std::mutex> guard(script_->lock);
    return static_cast<int>(script_->held.size());
}

std::vector<Prompt> PromptScript::Asked() const {
    std::lock_guard<std::mutex> guard(script_->lock);
    return script_->asked;
}

std::vector<Prompt> PromptScript::Closed() const {
    std::lock_guard<std::mutex> guard(script_->lock);
    return script_->closed;
}

std::vector<QString> PromptScript::Texts(PromptKind kind) const {
    std::vector<QString> texts;
    for (const Prompt& p : Asked()) {
        if (p.kind == kind) {
            texts.push_back(QString::fromLocal8Bit(p.text));
        }
    }
    return texts;
}
