#pragma once
// Block files and their reference counts.
//
// Audio lives in numbered file pairs in the working folder: "N.aud" holds the frames
// (32-bit little-endian samples, channels interleaved, no header) and "N.grf" the peaks
// the waveform is drawn from. Sounds share block files; a process-wide table of 16-bit
// counters, guarded by one lock, decides when the files of a block may be deleted.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace sonavel {

using BlockId = std::uint16_t;
inline constexpr BlockId kNoBlock = 0xFFFF;         // a segment with this id is silence
inline constexpr std::uint16_t kSaturatedCount = 0xFFFF;  // kept until the exit clean-up

// Paths of the two files of a block; empty for kNoBlock, and empty when the working
// folder is so long that the file name would not fit.
std::string BlockAudioPath(BlockId id);
std::string BlockPeakPath(BlockId id);

// Takes the lowest free id (counter 0) and sets its counter to 1; kNoBlock when every
// id 0 … 65534 is taken.
BlockId AllocateBlock();
// One more holder of `id`. Does nothing for kNoBlock or a saturated counter.
void AddBlockRef(BlockId id);
// One holder less. At the last holder (or a counter already 0) the counter becomes 0 and
// both files are deleted, outside the lock. A saturated counter stays.
void ReleaseBlock(BlockId id);
// The current counter of `id` (0 for kNoBlock).
std::uint16_t BlockRefCount(BlockId id);

// The working folder: chosen once at start-up, before any block exists.
const std::string& WorkingFolder();
void SetWorkingFolder(std::string folder);

// Deletes the block files ("<number>.aud", then "<number>.grf") in the working folder,
// whatever their counters and whichever run left them. Runs once at exit.
void CleanWorkingFolder();

// Free space of the working folder's file system, in KB.
std::uint32_t WorkingFolderFreeKB();
// Free space of the file system that holds `path` (or would hold it), in KB, through the
// same probe.
std::uint32_t PathFreeKB(const std::string& path);
// Replaces the free-space probe (FreeSpaceKB of a path) behind WorkingFolderFreeKB, for
// tests that need a nearly full disk; an empty function restores the real probe.
void SetFreeSpaceProbe(std::function<std::uint32_t(const std::string&)> probe);

}  // namespace sonavel
