// The order of the three process-wide objects, seen from a program that links all of them.
#include "orva/ProcessObjects.h"

#include "filedriver/ArchiveManager.h"
#include "launcher/RegistrySettings.h"
#include "orva/Log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using orva::ProcessObject;

std::string notesText()
{
    const orva::ProcessObjectNote* notes;
    const std::size_t count = orva::processObjectNotes(notes);
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        static const char* const names[] = {"settings", "archiveManager", "errorLog"};
        text += std::string(notes[i].built ? "built " : "finished ") + names[static_cast<int>(notes[i].object)] + ";";
    }
    return text;
}

// Plain texts: the watcher below reads them after every ordinary static object is gone.
constexpr char builtInOrder[] = "built settings;built archiveManager;built errorLog;";
constexpr char finishedInReverse[] = "finished errorLog;finished archiveManager;finished settings;";

// An ordinary static object, built after the three: they are there for it.
struct OrdinaryStatic {
    std::string notesWhenBuilt = notesText();
    bool logReady = orva::errorLog.file == stderr;
} ordinaryStatic;

// Built before the three, so finished after them: the one place that sees how they were finished.
struct FinishWatcher {
    bool armed = false;
    ~FinishWatcher()
    {
        const std::string expected = std::string(builtInOrder) + finishedInReverse;
        if (armed && notesText() != expected) {
            std::fprintf(stderr, "process-wide objects finished as \"%s\", expected \"%s\"\n", notesText().c_str(),
                         expected.c_str());
            std::fflush(stderr);
            std::_Exit(1);
        }
    }
} finishWatcher ORVA_PROCESS_OBJECT(orva::settingsStart - 1);

TEST(ProcessObjects, BuiltInOrderBeforeAnyOtherStaticObject)
{
    // The launcher's settings are linked in where they are used, as by the launcher itself.
    EXPECT_NE(launcher::settings.registry, nullptr);
    EXPECT_EQ(ordinaryStatic.notesWhenBuilt, builtInOrder);
    EXPECT_TRUE(ordinaryStatic.logReady);
    EXPECT_EQ(notesText(), builtInOrder) << "nothing finished before main ends";
    // Instances of their classes other than the three are no process-wide objects.
    {
        filedriver::ArchiveManager other;
        orva::Log log(nullptr);
    }
    EXPECT_EQ(notesText(), builtInOrder);
}

TEST(ProcessObjects, FinishedInReverseAfterMain)
{
    // Checked when the program ends; a wrong order ends it with exit code 1, which fails this test.
    finishWatcher.armed = true;
}

} // namespace
