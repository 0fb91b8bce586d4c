// assets.cpp - where the assets folder is found.
//
// The working directory's "assets" comes first, so a demo started from the
// source tree reads exactly "assets/NAME" as it always has. A demo started
// from anywhere else (a menu, a build folder, an installed copy) then looks
// beside its executable, in the executable's parent folder, and in the
// installed data folder, first as it lies relative to the executable (any
// install prefix) and then where this build was configured to install it.
// A folder counts only when it holds the demo's marker file: an unrelated
// "assets" folder (a web project's, a game's) in the working directory is
// passed over, and the search goes on.
#include "platform/platform.h"
#include "shell/shell.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#ifndef VROM_DATADIR
#define VROM_DATADIR "/usr/local/share/vrom2022/assets"
#endif

namespace fs = std::filesystem;

namespace {
std::string assetRoot = "assets"; // chosen once by locateAssets
} // namespace

std::vector<std::string> assetSearchPath(const std::string &executableDir) {
    std::vector<std::string> places{"assets"};
    const auto add = [&places](const fs::path &place) {
        const std::string text = place.lexically_normal().string();
        if (std::find(places.begin(), places.end(), text) == places.end()) places.push_back(text);
    };
    if (!executableDir.empty()) {
        const fs::path exe(executableDir);
        add(exe / "assets");
        add(exe / ".." / "assets");
        add(exe / ".." / "share" / "vrom2022" / "assets");
    }
    add(VROM_DATADIR);
    return places;
}

std::string findAssetDir(const std::vector<std::string> &places) {
    for (const std::string &place : places) {
        std::error_code error;
        if (fs::is_regular_file(fs::path(place) / ASSET_MARKER, error)) return place;
    }
    return {};
}

void locateAssets() {
    const std::vector<std::string> places = assetSearchPath(platform::executableDirectory());
    const std::string found = findAssetDir(places);
    if (!found.empty()) {
        assetRoot = found;
        return;
    }
    std::string list;
    for (const std::string &place : places) list += (list.empty() ? "" : ", ") + place;
    std::fprintf(stderr, "assets: not found (looked in: %s)\n", list.c_str());
    assetRoot = "assets"; // and every file is then missing, as in an empty folder
}

std::string assetPath(const char *name) { return assetRoot + "/" + name; }
