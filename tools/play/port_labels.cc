#include "port_labels.h"

#include <iconv.h>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

namespace tessaly::play {
namespace {

// The overlay takes single-byte and GB2312 characters. File names are taken
// as UTF-8; one that does not convert keeps its ASCII, with '?' for the rest.
void SetText(const std::string &name, char (&text)[128]) {
    std::memset(text, 0, sizeof text);
    iconv_t convert = iconv_open("GB2312", "UTF-8");
    if (convert != reinterpret_cast<iconv_t>(-1)) {
        char *in = const_cast<char *>(name.data());
        size_t inLeft = name.size();
        char *out = text;
        size_t outLeft = sizeof text - 1;
        const bool whole = iconv(convert, &in, &inLeft, &out, &outLeft) != size_t(-1);
        iconv_close(convert);
        if (whole) return;
    }
    for (size_t k = 0; k < name.size() && k + 1 < sizeof text; ++k)
        text[k] = static_cast<unsigned char>(name[k]) < 0x80 ? name[k] : '?';
}

}  // namespace

PortLabels::PortLabels(const PlaybackSession &session)
    : session_(session), labels_(session.PortCount()), shown_(session.PortCount(), kNothingShown) {
    for (size_t port = 0; port < labels_.size(); ++port) {
        const CameraFile &file = session.file(port);
        // 6 x 12 characters on CIF and smaller, 8 x 16 on D1, 12 x 24 from 720p on.
        const uint32_t fontSize = file.width >= 1280 ? 2 : file.width >= 640 ? 1 : 0;
        const int32_t charWidth = fontSize == 2 ? 12 : fontSize == 1 ? 8 : 6;
        const int32_t charHeight = 2 * charWidth;
        KOVA_TextOsdInput &label = labels_[port];
        SetText(BaseName(file.path), label.line[0].text);
        std::memcpy(label.line[1].text, "00:00:00", 9);
        // The state line is as wide as its longest text, "reconnecting in 10 s".
        if (file.avSource) std::memcpy(label.line[2].text, "reconnecting in 10 s", 21);
        for (int line = 0; line < (file.avSource ? 3 : 2); ++line) {
            // Top right, where cameras seldom put their own text. A byte of
            // text is one single-width column: a GB2312 character takes two.
            const int32_t width = charWidth * static_cast<int32_t>(std::strlen(label.line[line].text));
            label.line[line].enabled = 1;
            label.line[line].x = std::max(charWidth, static_cast<int32_t>(file.width) - charWidth - width);
            label.line[line].y = charHeight / 2 + line * (charHeight + charHeight / 4);
            label.line[line].fontSize = fontSize;
        }
    }
    Update();
}

void PortLabels::Update() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const uint32_t timeOfDay = static_cast<uint32_t>(local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec);
    for (size_t port = 0; port < labels_.size(); ++port) {
        const uint32_t number = static_cast<uint32_t>(port);
        uint32_t seconds = timeOfDay;
        if (session_.file(port).recordFile && KOVA_GetPlayingTime(number, &seconds) != KOVA_OK) continue;
        char state[sizeof labels_[port].line[2].text];
        const bool hasState = session_.FormatSourceState(port, state, sizeof state);
        const bool stateChanged = hasState && std::strcmp(state, labels_[port].line[2].text) != 0;
        if (stateChanged) std::memcpy(labels_[port].line[2].text, state, sizeof state);
        // Only a new clock or state text sets the lines again: about once a second.
        if (seconds == shown_[port] && !stateChanged) continue;
        shown_[port] = seconds;
        std::snprintf(labels_[port].line[1].text, sizeof labels_[port].line[1].text, "%02u:%02u:%02u",
                      seconds / 3600 % 100, seconds / 60 % 60, seconds % 60);
        KOVA_SetTextOSD_FT(number, &labels_[port]);
    }
}

}  // namespace tessaly::play
