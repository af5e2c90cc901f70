#include <gtest/gtest.h>

#include "platform/fs.h"

using namespace fv;

TEST(MountInfo, ParsesEscapedMountPointsAndOptionalFields) {
    std::string text =
        "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
        "40 22 8:17 / /media/user/MY\\040CARD rw,nosuid shared:5 master:2 - vfat /dev/sdb1 rw\n"
        "41 22 0:40 / /mnt/nas rw - nfs4 srv:/export rw\n"
        "garbage line\n"
        "42 22 0:41 / relative rw - tmpfs tmpfs rw\n"
        "43 22 0:42 / /run/user/1000 rw - tmpfs tmpfs rw\n";
    auto m = ParseMountInfo(text);
    ASSERT_EQ(m.size(), 4u);
    EXPECT_EQ(m[1].MountPoint, "/media/user/MY CARD");
    EXPECT_EQ(m[1].FsType, "vfat");
    EXPECT_EQ(m[1].Source, "/dev/sdb1");
    EXPECT_EQ(m[1].DevMajor, 8u);
    EXPECT_EQ(m[1].DevMinor, 17u);

    EXPECT_EQ(DriveTypeOf(m[1]), DRIVE_REMOVABLE);
    EXPECT_EQ(DriveTypeOf(m[2]), DRIVE_REMOTE);
    EXPECT_EQ(DriveTypeOf(m[3]), DRIVE_RAMDISK);

    TMountEntry hit;
    ASSERT_TRUE(FindMountFor(m, "/media/user/MY CARD/DCIM/100", hit));
    EXPECT_EQ(hit.MountPoint, "/media/user/MY CARD");
    ASSERT_TRUE(FindMountFor(m, "/media/user/MY CARDS/x", hit));
    EXPECT_EQ(hit.MountPoint, "/");  // a name that only starts like the mount point is not below it
    EXPECT_FALSE(FindMountFor(m, "not/absolute", hit));
}

TEST(MountInfo, EscapesDecodeOnlyWhenWellFormed) {
    EXPECT_EQ(UnescapeOctal("a\\040b\\134c"), "a b\\c");
    EXPECT_EQ(UnescapeOctal("a\\04"), "a\\04");  // cut short: kept as it is
    EXPECT_EQ(UnescapeOctal("\\999"), "\\999");
    EXPECT_EQ(UnescapeHex("MY\\x20CARD"), "MY CARD");
    EXPECT_EQ(UnescapeHex("bad\\xZZ\\x2"), "bad\\xZZ\\x2");
}
