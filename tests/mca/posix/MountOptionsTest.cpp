#include "mca/posix/MountOptions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using mca::MountOptionList;
using mca::parseMountOptions;

struct Accepted {
    std::vector<std::string> arguments;
    std::string forFuse;
};

TEST(MountOptions, ReadOnlyOptionsGoToLibfuseAsGiven)
{
    const Accepted cases[] = {
        {{}, ""},
        {{"allow_other"}, "allow_other"},
        {{"allow_root,auto_unmount"}, "allow_root,auto_unmount"},
        {{"nosuid,nodev", "noexec"}, "nosuid,nodev,noexec"},
        {{"ro,default_permissions,noatime,relatime,dirsync"}, "ro,default_permissions,noatime,relatime,dirsync"},
        {{"fsname=maps\\,europe,subtype=atlas"}, "fsname=maps\\,europe,subtype=atlas"},
        {{"max_read=131072"}, "max_read=131072"},
        {{",allow_other,,"}, "allow_other"},
    };
    for (const Accepted& one : cases) {
        MountOptionList options;
        EXPECT_EQ(parseMountOptions(one.arguments, options), "") << testing::PrintToString(one.arguments);
        EXPECT_EQ(options.forFuse, one.forFuse) << testing::PrintToString(one.arguments);
    }
}

TEST(MountOptions, OwnerAndModesAreTheMountsOwn)
{
    MountOptionList options;
    ASSERT_EQ(parseMountOptions({"uid=1000,gid=100", "umask=027,allow_other"}, options), "");
    EXPECT_EQ(options.forFuse, "allow_other");
    EXPECT_EQ(options.uid, 1000u);
    EXPECT_EQ(options.gid, 100u);
    EXPECT_EQ(options.umask, 027u);

    MountOptionList none;
    ASSERT_EQ(parseMountOptions({"allow_other"}, none), "");
    EXPECT_FALSE(none.uid || none.gid || none.umask);
}

struct Refused {
    std::vector<std::string> arguments;
    std::string problem;
};

TEST(MountOptions, RefusedOptionsAreNamedAndChangeNothing)
{
    const Refused cases[] = {
        {{"rw"}, "mount option 'rw': the mount is read-only"},
        {{"allow_other,bogus"}, "unknown mount option 'bogus'"},
        {{"debug"}, "unknown mount option 'debug'"},
        {{"allow_other=1"}, "mount option 'allow_other' takes no value"},
        {{"fsname"}, "mount option 'fsname' needs a value"},
        {{"subtype="}, "mount option 'subtype' needs a value"},
        {{"uid"}, "mount option 'uid' needs a value"},
        {{"uid=root"}, "mount option 'uid=root': not a numeric user id"},
        {{"gid=-1"}, "mount option 'gid=-1': not a numeric group id"},
        {{"uid=99999999999"}, "mount option 'uid=99999999999': not a numeric user id"},
        {{"umask=0778"}, "mount option 'umask=0778': not an octal mode of 0 to 777"},
        {{"umask=1000"}, "mount option 'umask=1000': not an octal mode of 0 to 777"},
        {{"fd=3"}, "mount option 'fd' is set by libfuse, or for block devices only"},
        {{"blkdev"}, "mount option 'blkdev' is set by libfuse, or for block devices only"},
        {{"allow_other", "allow_root"}, "mount options 'allow_other' and 'allow_root' exclude each other"},
    };
    for (const Refused& one : cases) {
        MountOptionList options;
        options.forFuse = "before";
        EXPECT_EQ(parseMountOptions(one.arguments, options), one.problem) << testing::PrintToString(one.arguments);
        EXPECT_EQ(options.forFuse, "before");
    }
    EXPECT_EQ(mca::mountOptionProblem("nodev,rw"), "mount option 'rw': the mount is read-only");
    EXPECT_EQ(mca::mountOptionProblem("nodev"), "");
}

} // namespace
