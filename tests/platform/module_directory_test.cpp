// The directory the licence file's name is appended to: inside the
// directory, never the file system's root for an empty one.
#include "platform/module_directory.h"

#include <gtest/gtest.h>

TEST(ModuleDirectory, GetsItsSeparatorOnlyWhereMissing) {
    EXPECT_EQ(module_directory("."), "./");
    EXPECT_EQ(module_directory("/home/user/ghost/master"), "/home/user/ghost/master/");
    EXPECT_EQ(module_directory("/home/user/ghost/master/"), "/home/user/ghost/master/");
    EXPECT_EQ(module_directory(""), "");
}
