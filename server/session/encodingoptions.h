#ifndef NUVEK_RDP_ENCODINGOPTIONS_H
#define NUVEK_RDP_ENCODINGOPTIONS_H

#include <string>

// How the session encodes its frames; one value for every viewer.
//
// adaptive     the frame rate follows the viewers' acknowledgements, up to
//              MaxFps; otherwise it is held at fps
// compression  0 (best picture) to MaxCompression (fewest bytes)
// frameWindow  frames a viewer may have unacknowledged; 0 = no limit
struct EncodingOptions
{
    static constexpr int MaxCompression = 3;
    static constexpr int MaxFps = 60;
    static constexpr int MaxFrameWindow = 60;

    bool adaptive = true;
    int compression = 0;
    int fps = 30;
    int frameWindow = 0;

    // The options and the two maxima as a compact JSON object.
    std::string toJson() const;

    // Applies a change request: a JSON object whose known members replace
    // the values they name. Bad JSON, a member of the wrong type or a value
    // out of range fails with a message and changes nothing.
    bool apply(const std::string &json, std::string &error);
};

#endif // NUVEK_RDP_ENCODINGOPTIONS_H
