// The library's C exports, as a host binds them by name.
#include <gtest/gtest.h>

#include <string>

#include "infokit/infokit.h"

namespace {

TEST(InfoKitExports, PublicStringsInTheChosenLanguage) {
    ikWChar wide[INFOKIT_STRING_CHARS];
    char narrow[INFOKIT_STRING_CHARS];
    EXPECT_EQ(setlanguage(1), 1);
    ASSERT_TRUE(getdllstringW(501, wide));
    EXPECT_EQ(std::u16string(wide), u"Fertigstellen");
    ASSERT_TRUE(getdllstring(513, narrow));
    EXPECT_STREQ(narrow, "<unbekannt>");
    setlanguage(12);  // English texts
    ASSERT_TRUE(getdllstring(501, narrow));
    EXPECT_STREQ(narrow, "Finish");
    for (int32_t number : {530, 549, 499, 554, 1501, -1}) {
        EXPECT_FALSE(getdllstring(number, narrow)) << number;
    }
    EXPECT_FALSE(getdllstring(501, nullptr));
}

TEST(InfoKitExports, ProductRowAndProgramName) {
    char name[INFOKIT_STRING_CHARS] = "x";
    EXPECT_TRUE(setprogindex(0));
    EXPECT_FALSE(setprogindex(52));
    EXPECT_FALSE(setprogindex(-1));
    ASSERT_TRUE(getprogramname(name));
    EXPECT_STREQ(name, "Tavrena Orvendo");  // the selection stayed
    int owner = 0;
    EXPECT_EQ(setmainwindow(&owner), &owner);
    EXPECT_EQ(setmainwindow(nullptr), nullptr);
}

TEST(InfoKitExports, ApplicationVariablesBothForms) {
    ikWChar wide[INFOKIT_APPVAR_VALUE_CHARS];
    char narrow[INFOKIT_APPVAR_VALUE_CHARS];
    EXPECT_FALSE(appvar_get("Anything", narrow));  // the list is empty
    EXPECT_TRUE(appvar_addW(u"ProjectFolder", u"/home/anna/Übungen"));
    EXPECT_TRUE(appvar_add("projectfolder", "second"));
    EXPECT_FALSE(appvar_add(nullptr, "x"));
    EXPECT_FALSE(appvar_addW(u"x", nullptr));
    ASSERT_TRUE(appvar_get("PROJECTFOLDER", narrow));
    EXPECT_STREQ(narrow, "/home/anna/Übungen");
    ASSERT_TRUE(appvar_getW(u"ProjectFolder", wide));
    EXPECT_EQ(std::u16string(wide), u"/home/anna/Übungen");
    EXPECT_FALSE(appvar_get("Project", narrow));
    EXPECT_FALSE(appvar_get(nullptr, narrow));
    EXPECT_FALSE(appvar_get("projectfolder", nullptr));
    // A value longer than the buffer is cut at the field and terminated.
    const std::string longValue(400, 'v');
    EXPECT_TRUE(appvar_add("Long", longValue.c_str()));
    ASSERT_TRUE(appvar_get("long", narrow));
    EXPECT_EQ(std::string(narrow).size(), 259u);
}

TEST(InfoKitExports, UpdateValuesWithoutWindows) {
    char buffer[INFOKIT_PATH_CHARS];
    ASSERT_TRUE(uplift_getbackupdirname(buffer));
    EXPECT_STREQ(buffer, "-Backup-");
    ASSERT_TRUE(uplift_getbackinipath(buffer));
    EXPECT_TRUE(std::string(buffer).ends_with("/-Backup-/Tavrena-software-Backup.ini"));
    EXPECT_FALSE(uplift_setFreq(5));
    EXPECT_FALSE(uplift_setserverurl(std::string(2049, 'h').c_str()));
    EXPECT_TRUE(uplift_setserverurlW(u"http://127.0.0.1:9/none"));
    EXPECT_FALSE(uplift_getbackup(nullptr));
}

}  // namespace
