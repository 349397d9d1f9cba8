#pragma once
// The ids of the frame's own commands: files, playback, view, windows, bars and help. The
// edit commands name theirs beside their code, each effect its own in its definition.

#include "document/edit_commands.h"

namespace sonavel::command_id {

inline constexpr int kNew = 1001;
inline constexpr int kOpen = 1002;
inline constexpr int kClose = 1003;
inline constexpr int kSave = 1004;
inline constexpr int kSaveAs = 1005;
inline constexpr int kOptions = 1010;
inline constexpr int kLoadCdTracks = 1011;
inline constexpr int kOpenProject = 1013;
inline constexpr int kCloseProject = 1014;
inline constexpr int kSaveProject = 1015;
inline constexpr int kSaveProjectAs = 1016;
inline constexpr int kEditTags = 1019;
inline constexpr int kExit = 1048;

inline constexpr int kRecord = 3001;
inline constexpr int kPlay = 3002;
inline constexpr int kStop = 3003;
inline constexpr int kGoToStart = 3004;
inline constexpr int kRewind = 3005;
inline constexpr int kForward = 3006;
inline constexpr int kGoToEnd = 3007;
inline constexpr int kSpeedSlow = 3008;
inline constexpr int kSpeedNormal = 3009;
inline constexpr int kSpeedFast = 3010;
inline constexpr int kRepeat = 3011;

inline constexpr int kZoomIn = 5001;
inline constexpr int kZoomOut = 5002;
inline constexpr int kZoomSelection = 5003;
inline constexpr int kZoomAll = 5004;
inline constexpr int kVerticalZoom = 5005;
inline constexpr int kShowWaveform = 5007;
inline constexpr int kShowStacked = 5008;
inline constexpr int kCascade = 5009;
inline constexpr int kTileHorizontally = 5010;
inline constexpr int kTileVertically = 5011;
inline constexpr int kArrangeIcons = 5012;
inline constexpr int kShowDual = 5013;
inline constexpr int kCloseAll = 5040;

// Enabled only while a noise sample exists.
inline constexpr int kApplyNoiseSample = 4013;

inline constexpr int kHelp = 6000;

inline constexpr int kFrequencyAnalysis = 7001;

inline constexpr int kRegionList = 8000;
inline constexpr int kSetBookmark = 8001;
inline constexpr int kBookmarkList = 8003;
inline constexpr int kAddRegion = 8004;
inline constexpr int kJoinRegions = 8005;
// Shown in the bookmark menu while the bookmark list is open.
inline constexpr int kGoToBookmark = 8006;
inline constexpr int kRenameBookmark = 8007;
inline constexpr int kDeleteBookmarks = 8008;
inline constexpr int kDeleteAllBookmarks = 8009;
// Shown in the bookmark menu while the region list is open.
inline constexpr int kPlayRegion = 8011;
inline constexpr int kRenameRegion = 8012;
inline constexpr int kSaveRegion = 8013;
inline constexpr int kCopyRegionToNew = 8014;
inline constexpr int kDeleteRegions = 8015;
inline constexpr int kDeleteAllRegions = 8016;
inline constexpr int kExportRegions = 8017;
inline constexpr int kCopyRegionsToCd = 8018;

// The time-frequency analysis window.
inline constexpr int kTimeFrequencyAnalysis = 7005;

inline constexpr int kCommandBar = 9001;
inline constexpr int kMainToolbar = 9002;
inline constexpr int kEffectsToolbar = 9003;
inline constexpr int kCommandBarLeft = 9004;
inline constexpr int kCommandBarRight = 9005;
inline constexpr int kAbout = 9090;

}  // namespace sonavel::command_id
