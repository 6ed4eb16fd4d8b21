#include "mca/posix/MountReadAhead.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using mca::mountDevice;

// Lines as the kernel writes them: id, parent, major:minor, root, mount point, options...
const std::string mountInfo =
    "22 1 252:1 / / rw,relatime shared:1 - ext4 /dev/vda1 rw\n"
    "45 22 0:40 / /tmp/m1 ro,nosuid,nodev,relatime - fuse.mca /tmp/a.mca ro,user_id=0\n"
    "46 22 0:41 / /tmp/with\\040space\\011tab ro - fuse.mca /tmp/b.mca ro\n"
    "47 22 0:42 / /tmp/back\\134slash ro - fuse.mca /tmp/c.mca ro\n"
    "48 45 0:43 / /tmp/m1 ro - fuse.mca /tmp/d.mca ro\n"
    "49 22 0:44 / /tmp/m1/inner ro - fuse.mca /tmp/e.mca ro\n";

TEST(MountDevice, FindsTheMountOnAPoint)
{
    const struct {
        const char* point;
        const char* device;
    } rows[] = {
        {"/", "252:1"},
        // Mounted twice: the later line is the one on top.
        {"/tmp/m1", "0:43"},
        {"/tmp/m1/inner", "0:44"},
        {"/tmp/with space\ttab", "0:41"},
        {"/tmp/back\\slash", "0:42"},
        // Written escaped in the file, never matched as such.
        {"/tmp/with\\040space\\011tab", ""},
        {"/tmp", ""},
        {"/tmp/m", ""},
        {"", ""},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.device, mountDevice(mountInfo, row.point)) << row.point;
}

TEST(MountDevice, ToleratesShortAndOddLines)
{
    EXPECT_EQ("", mountDevice("", "/tmp/m1"));
    EXPECT_EQ("", mountDevice("45 22 0:40 /\n\n", "/"));
    // A backslash without three octal digits is taken as it stands.
    EXPECT_EQ("0:9", mountDevice("1 1 0:9 / /a\\x1 ro\n", "/a\\x1"));
    EXPECT_EQ("0:9", mountDevice("1 1 0:9 / /a\\1 ro\n", "/a\\1"));
    EXPECT_EQ("0:9", mountDevice("1 1 0:9 / /a\\ ro\n", "/a\\"));
}

} // namespace
