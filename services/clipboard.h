// services/clipboard.h: the clipboard as text, a list of files or an image. The desktop's
// clipboard is reached through wl-copy and wl-paste when WAYLAND_DISPLAY is set, else through
// xclip when DISPLAY is set (each when it is on PATH); without them the process keeps a
// clipboard of its own, lost at exit, and text written to a terminal also goes out as an
// OSC 52 sequence, which terminals that know it put on the user's clipboard.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zyl::clipboard {

enum class kind { empty, text, files, image };

struct content {
    kind what = kind::empty;
    std::string text;               // UTF-8
    std::vector<std::string> files; // local paths
    std::vector<uint8_t> image;     // PNG when written; PNG, JPEG or GIF when read
};

// Reads the clipboard into [c], taking the first of text, files, PNG, JPEG and GIF that it
// offers (empty when none). False when the clipboard could not be read.
bool read(content& c);
// Puts [c] on the clipboard (empty: empties it). False when that failed.
bool write(const content& c);

// The text/uri-list form of local [paths] (file: URIs, CR LF after each), and back: the
// paths of the file: URIs of such a list, comments and other schemes skipped.
std::string to_uri_list(const std::vector<std::string>& paths);
std::vector<std::string> from_uri_list(std::string_view list);

// The OSC 52 sequence that sets a terminal's clipboard to [text]; empty when its base64
// passes 100 KB.
std::string osc52(std::string_view text);

} // namespace zyl::clipboard
