#include "app/core/BoxPlacement.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <optional>

namespace {

int Right(const PixelRect& r) {
    return r.left + r.width;
}

int Bottom(const PixelRect& r) {
    return r.top + r.height;
}

// A line the box may slide along: one coordinate fixed, the other anywhere from low to high.
struct Track {
    bool vertical; // x fixed, the box slides up and down
    int fixed;
    int low;
    int high;
    int preferred;
};

PixelRect BoxOn(const Track& track, int along, int width, int height) {
    return track.vertical ? PixelRect{track.fixed, along, width, height}
                          : PixelRect{along, track.fixed, width, height};
}

// The place on the track nearest its preferred one where the box covers none of the obstacles.
// A free stretch of the track begins or ends at one of its own ends or a gap away from an
// obstacle, so those places (and the preferred one) are the only ones worth trying.
std::optional<BoxPosition> FreePlace(const Track& track, int width, int height,
                                     const std::vector<PixelRect>& obstacles) {
    const int size = track.vertical ? height : width;
    std::vector<int> tries{track.preferred, track.low, track.high};
    for (const PixelRect& o : obstacles) {
        const int start = track.vertical ? o.top : o.left;
        const int end = track.vertical ? Bottom(o) : Right(o);
        tries.insert(tries.end(), {end + BoxGap, start - size - BoxGap});
    }
    std::optional<int> best;
    for (int along : tries) {
        along = std::clamp(along, track.low, track.high);
        const PixelRect box = BoxOn(track, along, width, height);
        const bool free = std::none_of(obstacles.begin(), obstacles.end(),
                                       [&](const PixelRect& o) { return Overlaps(box, o); });
        if (free &&
            (!best || std::abs(along - track.preferred) < std::abs(*best - track.preferred))) {
            best = along;
        }
    }
    if (!best) {
        return std::nullopt;
    }
    const PixelRect box = BoxOn(track, *best, width, height);
    return BoxPosition{box.left, box.top};
}

// The four places around the dialog, in the order they are preferred, where the screen has room
// for the whole box.
std::vector<Track> AroundDialog(const BoxScene& s, int width, int height) {
    const PixelRect& d = s.dialog;
    std::vector<Track> tracks;
    const int rightX = Right(d) + BoxGap;
    const int leftX = d.left - BoxGap - width;
    const int belowY = Bottom(d) + BoxGap;
    const int aboveY = d.top - BoxGap - height;
    const int lowestY = Bottom(s.screen) - height;
    const int rightmostX = Right(s.screen) - width;
    if (lowestY >= s.screen.top) {
        if (rightX <= rightmostX) {
            tracks.push_back({true, rightX, s.screen.top, lowestY, d.top});
        }
        if (leftX >= s.screen.left) {
            tracks.push_back({true, leftX, s.screen.top, lowestY, d.top});
        }
    }
    if (rightmostX >= s.screen.left) {
        if (belowY <= lowestY) {
            tracks.push_back({false, belowY, s.screen.left, rightmostX, d.left});
        }
        if (aboveY >= s.screen.top) {
            tracks.push_back({false, aboveY, s.screen.left, rightmostX, d.left});
        }
    }
    return tracks;
}

// The screen's four edges, farthest from the lamps first. A box larger than the screen keeps its
// top-left corner on it.
std::vector<Track> ScreenEdges(const BoxScene& s, int width, int height) {
    const PixelRect& screen = s.screen;
    const int rightmostX = std::max(screen.left, Right(screen) - width);
    const int lowestY = std::max(screen.top, Bottom(screen) - height);
    struct Edge {
        int distance;
        Track track;
    };
    std::array<Edge, 4> edges{{
        {Right(screen) - Right(s.lamps), {true, rightmostX, screen.top, lowestY, s.dialog.top}},
        {s.lamps.left - screen.left, {true, screen.left, screen.top, lowestY, s.dialog.top}},
        {Bottom(screen) - Bottom(s.lamps),
         {false, lowestY, screen.left, rightmostX, s.dialog.left}},
        {s.lamps.top - screen.top, {false, screen.top, screen.left, rightmostX, s.dialog.left}},
    }};
    std::stable_sort(edges.begin(), edges.end(),
                     [](const Edge& a, const Edge& b) { return a.distance > b.distance; });
    std::vector<Track> tracks;
    for (const Edge& e : edges) {
        tracks.push_back(e.track);
    }
    return tracks;
}

std::optional<BoxPosition> FirstFree(const std::vector<Track>& tracks, int width, int height,
                                     const std::vector<PixelRect>& obstacles) {
    for (const Track& track : tracks) {
        if (auto place = FreePlace(track, width, height, obstacles)) {
            return place;
        }
    }
    return std::nullopt;
}

} // namespace

bool Overlaps(const PixelRect& a, const PixelRect& b) {
    return a.left < Right(b) && b.left < Right(a) && a.top < Bottom(b) && b.top < Bottom(a);
}

BoxPosition PlaceBox(const BoxScene& scene, int width, int height) {
    if (auto place = FirstFree(AroundDialog(scene, width, height), width, height, scene.open)) {
        return *place;
    }
    // No room around the dialog: an edge of the screen, where the status line is given up
    // first, then the lamps, to keep clear of the other boxes.
    const std::vector<Track> edges = ScreenEdges(scene, width, height);
    const std::vector<PixelRect> kept[] = {{scene.lamps, scene.status}, {scene.lamps}, {}};
    for (const std::vector<PixelRect>& watched : kept) {
        std::vector<PixelRect> obstacles = scene.open;
        obstacles.insert(obstacles.end(), watched.begin(), watched.end());
        if (auto place = FirstFree(edges, width, height, obstacles)) {
            return *place;
        }
    }
    const Track& farthest = edges.front();
    const PixelRect box =
        BoxOn(farthest, std::clamp(farthest.preferred, farthest.low, farthest.high), width, height);
    return {box.left, box.top};
}
