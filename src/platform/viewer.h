// The system's text viewer, started on a drive's log file.
#pragma once

#include <functional>
#include <string>

namespace tamro::platform {

// Starts the viewer on fileName (in the current folder) and returns at once;
// whether it started is not examined. On Linux the viewer is tamro-viewer,
// found beside the program; on Windows the system's notepad.
void StartTextViewer(const std::string& fileName);

namespace testing {
// Replaces the system's viewer; an empty one puts the system's back.
using ViewerLauncher = std::function<void(const std::string& fileName)>;
void SetViewerLauncher(ViewerLauncher launcher);
// Starts this program in place of the viewer beside the program; an empty
// path puts that one back.
void SetViewerProgram(std::string path);
}  // namespace testing

}  // namespace tamro::platform
