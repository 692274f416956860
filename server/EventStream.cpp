#include "server/EventStream.h"

#include "server/Handler.h"
#include "server/Refusal.h"

#include <charconv>

namespace {

using namespace std::chrono_literals;

constexpr auto KeepAlive = 15s;

std::optional<std::int64_t> After(const httplib::Request& request) {
    std::string text = request.get_header_value("Last-Event-ID");
    if (text.empty()) {
        text = request.get_param_value("after");
    }
    if (text.empty()) {
        return std::nullopt;
    }
    std::int64_t id = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
    if (error != std::errc() || end != text.data() + text.size() || id < 0) {
        throw Refusal(HttpStatus::BadRequest, "Last-Event-ID must be an event's number: " + text);
    }
    return id;
}

bool Send(httplib::DataSink& sink, const std::string& text) {
    return sink.write(text.data(), text.size());
}

} // namespace

void StreamEvents(const httplib::Request& request, httplib::Response& response, TokenCheck& tokens,
                  EventHub& hub) {
    std::shared_ptr<EventHub::Subscription> subscription;
    try {
        // A browser's EventSource cannot send a header: it may give the token as ?token=.
        Authorized(tokens, request, Access::Read, true);
        subscription = hub.Subscribe(After(request));
    } catch (const Refusal& refusal) {
        Fail(response, refusal.Status(), refusal.what());
        return;
    } catch (const SqlError& error) {
        Fail(response, HttpStatus::Unavailable,
             std::string("the database cannot be reached: ") + error.what());
        return;
    }
    response.set_header("Cache-Control", "no-cache");
    response.set_chunked_content_provider(
        "text/event-stream",
        [subscription, first = true](std::size_t, httplib::DataSink& sink) mutable {
            if (first) {
                first = false;
                // How long a browser waits before it connects again.
                return Send(sink, "retry: 2000\n\n");
            }
            FeedEvent event;
            if (subscription->Next(event, KeepAlive)) {
                return Send(sink, "id: " + std::to_string(event.Id) + "\nevent: " + event.Kind +
                                      "\ndata: " + event.Data + "\n\n");
            }
            if (subscription->Closed()) {
                sink.done();
                return true;
            }
            return Send(sink, ": keep-alive\n\n");
        },
        [&hub, subscription](bool) { hub.Unsubscribe(subscription); });
}
