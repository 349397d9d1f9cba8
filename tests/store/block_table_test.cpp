#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/file.h"
#include "store_fixture.h"

namespace sonavel {
namespace {

using testing::BlockFilesIn;
using testing::HeldBlocks;
using testing::StoreTest;

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

void Touch(const std::string& path) { std::ofstream(path) << "x"; }

class BlockTableTest : public StoreTest {};

TEST_F(BlockTableTest, LastReleaseDeletesBothFilesAndTheLowestIdIsReused) {
  BlockId first = AllocateBlock();
  BlockId second = AllocateBlock();
  ASSERT_NE(first, kNoBlock);
  EXPECT_EQ(second, first + 1);
  Touch(BlockAudioPath(first));
  Touch(BlockPeakPath(first));
  AddBlockRef(first);
  EXPECT_EQ(BlockRefCount(first), 2);
  ReleaseBlock(first);
  EXPECT_EQ(BlockRefCount(first), 1);
  EXPECT_TRUE(Exists(BlockAudioPath(first)));
  ReleaseBlock(first);
  EXPECT_EQ(BlockRefCount(first), 0);
  EXPECT_FALSE(Exists(BlockAudioPath(first)));
  EXPECT_FALSE(Exists(BlockPeakPath(first)));
  EXPECT_EQ(AllocateBlock(), first);  // lowest free id first
  ReleaseBlock(first);
  ReleaseBlock(second);
  ExpectNoLeak();
}

TEST_F(BlockTableTest, ReleasingAFreeBlockDeletesItsFilesAgainAndStaysAtZero) {
  BlockId id = AllocateBlock();
  ReleaseBlock(id);
  Touch(BlockAudioPath(id));  // a stale file from somewhere
  Touch(BlockPeakPath(id));
  ReleaseBlock(id);
  EXPECT_EQ(BlockRefCount(id), 0);
  EXPECT_FALSE(Exists(BlockAudioPath(id)));
  EXPECT_FALSE(Exists(BlockPeakPath(id)));
}

TEST_F(BlockTableTest, ASaturatedCounterNeverMovesAndItsFilesSurviveUntilExit) {
  BlockId id = AllocateBlock();
  Touch(BlockAudioPath(id));
  Touch(BlockPeakPath(id));
  for (int i = 0; i < 65535; ++i) AddBlockRef(id);
  EXPECT_EQ(BlockRefCount(id), kSaturatedCount);
  for (int i = 0; i < 70000; ++i) ReleaseBlock(id);
  EXPECT_EQ(BlockRefCount(id), kSaturatedCount);
  AddBlockRef(id);
  EXPECT_EQ(BlockRefCount(id), kSaturatedCount);
  EXPECT_TRUE(Exists(BlockAudioPath(id)));
  EXPECT_NE(AllocateBlock(), id);
  CleanWorkingFolder();
  EXPECT_FALSE(Exists(BlockAudioPath(id)));
}

TEST_F(BlockTableTest, NoBlockHasNoPathAndIsNeverCounted) {
  EXPECT_EQ(BlockAudioPath(kNoBlock), "");
  EXPECT_EQ(BlockPeakPath(kNoBlock), "");
  AddBlockRef(kNoBlock);
  ReleaseBlock(kNoBlock);
  EXPECT_EQ(BlockRefCount(kNoBlock), 0);
  ExpectNoLeak();
  EXPECT_EQ(BlockFilesIn(folder_), 0);
}

TEST_F(BlockTableTest, PathsJoinTheWorkingFolderWithoutDoubledSeparators) {
  SetWorkingFolder("/data/work\\");
  EXPECT_EQ(BlockAudioPath(7), "/data/work\\7.aud");
  SetWorkingFolder("/data/work/");
  EXPECT_EQ(BlockAudioPath(7), "/data/work/7.aud");
  SetWorkingFolder("/data/work");
  EXPECT_EQ(BlockPeakPath(65534), "/data/work/65534.grf");
  EXPECT_EQ(BlockAudioPath(0), "/data/work/0.aud");
  // A folder so long that the name would be cut gives no path rather than another
  // block's name.
  SetWorkingFolder(std::string(kMaxPathChars - 6, 'w'));
  EXPECT_EQ(BlockAudioPath(7), std::string(kMaxPathChars - 6, 'w') + "/7.aud");
  EXPECT_EQ(BlockAudioPath(12345), "");
}

TEST_F(BlockTableTest, AllIdsTakenGivesNoBlock) {
  std::vector<BlockId> taken;
  for (BlockId id = AllocateBlock(); id != kNoBlock; id = AllocateBlock()) taken.push_back(id);
  EXPECT_EQ(static_cast<int>(taken.size()), 65535 - held_before_);
  EXPECT_EQ(AllocateBlock(), kNoBlock);
  BlockId middle = taken[taken.size() / 2];
  BlockId low = taken[1];
  ReleaseBlock(middle);
  ReleaseBlock(low);
  EXPECT_EQ(AllocateBlock(), low);  // the lowest free id, not the last freed
  EXPECT_EQ(AllocateBlock(), middle);
  for (BlockId id : taken) ReleaseBlock(id);
  ExpectNoLeak();
}

TEST_F(BlockTableTest, CleanUpDeletesEveryBlockFileIncludingAnEarlierRunsAndNothingElse) {
  BlockId held = AllocateBlock();
  Touch(BlockAudioPath(held));
  Touch(BlockPeakPath(held));
  Touch(JoinPath(folder_, "40000.aud"));  // left by an earlier run
  Touch(JoinPath(folder_, "40000.grf"));
  Touch(JoinPath(folder_, "keys.dat"));
  Touch(JoinPath(folder_, "song.aud"));   // not a name this program gives
  Touch(JoinPath(folder_, "12.aud.bak"));
  CleanWorkingFolder();
  EXPECT_EQ(BlockFilesIn(folder_), 1);  // song.aud
  EXPECT_TRUE(Exists(JoinPath(folder_, "keys.dat")));
  EXPECT_TRUE(Exists(JoinPath(folder_, "song.aud")));
  EXPECT_TRUE(Exists(JoinPath(folder_, "12.aud.bak")));
  ReleaseBlock(held);
}

}  // namespace
}  // namespace sonavel
