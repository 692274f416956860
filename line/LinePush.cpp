#include "line/LinePush.h"

#include "line/LineClient.h"

#include <map>
#include <memory>

namespace {

enum class Sent { Yes, Away, Refused };

struct EntryOutcome {
    Sent How = Sent::Yes;
    std::string Why; // Away, Refused: why; Yes: what happened instead of what was written
};

EntryOutcome Outcome(const LineReply& reply) {
    if (reply.Ok()) {
        return {};
    }
    return {reply.Away() ? Sent::Away : Sent::Refused, reply.Why};
}

std::string EndPath(const SpoolEntry& entry, const std::string& end) {
    return "/api/v1/reservations/" + std::to_string(entry.Reservation) + "/" + end;
}

EntryOutcome SendEntry(const LineClient& client, const SpoolEntry& entry) {
    const std::string reservation = "reservation " + std::to_string(entry.Reservation);
    if (entry.Kind == SpoolKind::Record) {
        return Outcome(client.Call("POST", "/api/v1/records", entry.Record));
    }
    if (entry.Kind == SpoolKind::Used) {
        const LineReply used = client.Call("POST", EndPath(entry, "used"),
                                           nlohmann::ordered_json{{"record", entry.Record}});
        if (used.Ok() || used.Away() || (used.Status != 404 && used.Status != 409)) {
            return Outcome(used);
        }
        // The reservation ended otherwise, or is not on this server: the record still goes.
        EntryOutcome alone = Outcome(client.Call("POST", "/api/v1/records", entry.Record));
        if (alone.How == Sent::Yes) {
            alone.Why = reservation + " did not end as used (" + used.Why +
                        "); its board's record was sent alone";
        }
        return alone;
    }
    const LineReply ended =
        client.Call("POST", EndPath(entry, entry.Kind), nlohmann::json::object());
    if (ended.Ok() || ended.Away() || ended.Status != 409) {
        return Outcome(ended);
    }
    if (entry.Kind == SpoolKind::Released) {
        // Refused once the server heard the number was being written, or once its lease ran
        // out: a number that may be on a board is spoiled, never given again.
        const LineReply spoiled =
            client.Call("POST", EndPath(entry, SpoolKind::Spoiled), nlohmann::json::object());
        if (spoiled.Away()) {
            return Outcome(spoiled);
        }
        return {Sent::Yes, reservation + " could not be released (" + ended.Why + "); " +
                               (spoiled.Ok() ? "it was spoiled instead" : spoiled.Why)};
    }
    // Spoiled: it has ended already, and its number is never given again either way.
    return {Sent::Yes, reservation + " was not spoiled: " + ended.Why};
}

} // namespace

PushReport PushSpool(const LineSpool& spool, const std::string& token, const std::string& url,
                     const std::set<std::string>* only) {
    PushReport report;
    SpoolContent content;
    if (!spool.Read(content, report.Failure)) {
        return report;
    }
    report.Damaged = content.Damaged;
    std::map<std::string, std::unique_ptr<LineClient>> clients; // by the server's address
    std::set<std::string> done;
    std::size_t mine = 0;
    for (const SpoolEntry& entry : content.Waiting) {
        if (only != nullptr && !only->contains(entry.Id)) {
            continue;
        }
        ++mine;
        if (!report.Away.empty()) {
            continue;
        }
        const std::string& to = url.empty() ? entry.Url : url;
        std::unique_ptr<LineClient>& client = clients[to];
        if (!client) {
            std::string why;
            const std::optional<LineAddress> address = ParseLineAddress(to, why);
            if (!address) {
                report.Away = why;
                continue;
            }
            client = std::make_unique<LineClient>(*address, token);
        }
        const EntryOutcome outcome = SendEntry(*client, entry);
        if (outcome.How == Sent::Away) {
            report.Away = outcome.Why;
            continue;
        }
        if (outcome.How == Sent::Refused) {
            std::string why;
            if (!spool.SetAside(entry, outcome.Why, why)) {
                report.Failure = why;
                break;
            }
            ++report.SetAside;
            report.Notes.push_back(outcome.Why + "; set aside in " + spool.Path() + ".refused");
        } else {
            ++report.Sent;
            if (!outcome.Why.empty()) {
                report.Notes.push_back(outcome.Why);
            }
        }
        done.insert(entry.Id);
    }
    if (std::string why; !spool.MarkSent(done, why)) {
        // Sent, but still in the spool: sending them again changes nothing on the server.
        report.Failure = report.Failure.empty() ? why : report.Failure;
        done.clear();
    }
    report.Left = mine - done.size();
    return report;
}
