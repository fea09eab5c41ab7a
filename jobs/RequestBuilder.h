#pragma once

#include "core/RunRequest.h"

class ToolLocator;

// The one way a request is made, for the window, the queue and
// trimlet-cli alike: each fills in what its controls or options ask, and
// every request for a recording is then built from that here, so that the
// three cannot come to differ in what a request holds or what refuses it.
class RequestBuilder
{
public:
    RequestBuilder &steps(bool detect, bool remove, bool erase);
    RequestBuilder &mode(RunRequest::Mode mode);
    RequestBuilder &detectorSettings(const QVariantMap &settings, const QString &profile = QString());
    // mencoder's options; mencoder asked for (key frame to key frame), or
    // the frame-exact cut; neither: mencoder where it can copy the
    // recording, else ffmpeg's stream copy.
    RequestBuilder &cutterOptions(bool noSkip, bool edlSeek, bool mencoder = false, bool frameExact = false);
    // The checked copy takes the recording's name (cut mode only), the
    // recording going to its volume's trash, or into keepOriginal.
    RequestBuilder &replaceRecording(bool replace, const QString &keepOriginal = QString());
    // A bare name where a tool is not found, which the runner reports as
    // not found.
    RequestBuilder &toolsFrom(const ToolLocator &locator);

    // The request for recording. A relative output lies beside the
    // recording, never in the working directory of whoever started
    // Trimlet; a skip list's is always BASE.edl beside it; without a
    // remove step there is none; left empty, the queue settles it once
    // the recording has been read.
    RunRequest build(const QString &recording, const QString &output = QString()) const;

    // What is wrong with the request's output, in the words the user
    // reads; empty when nothing is. folderWritten asks the folder itself
    // whether it takes a new file (as root no permission bit says no).
    static QString outputProblem(const RunRequest &request, bool folderWritten = false);

    // The request's profile, read now, laid over its detector settings;
    // false, with the command line's words for it in *error, when the
    // profile is missing or not comskip's syntax. Without a profile the
    // request is left as it is.
    static bool layProfile(RunRequest &request, QString *error);

private:
    RunRequest m_common;
};
