// Tavenor.exe run for real under the debugger: the echo, the usage box, the
// exit codes of the front end and the executable's resources.
#include <gtest/gtest.h>

#include <windows.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "app/usage.h"
#include "e2e/stage.h"
#include "tavenor_version.h"
#include "support/test_files.h"
#include "tracelib/viewer_channel.h"

namespace {

std::string usage_text()
{
    char text[usage_buffer_size];
    build_usage_text(text, sizeof text);
    return text;
}

bool library_was_loaded(const Stage& stage)
{
    for (const JournalEntry& entry : read_journal(stage)) {
        if (entry.what == "load")
            return true;
    }
    return false;
}

struct UsageCase {
    const char* what;
    std::string tail;
};

TEST(FrontEnd, RefusedCommandLinesShowTheUsageBox)
{
    const UsageCase cases[] = {
        {"no arguments", ""},
        {"only switches", "/s /d"},
        {"unclosed quote", "/i 'x.inf"},
        {"stray word", "x.inf"},
        {"unknown switch", "/? /i x.inf"},
        {"511 characters", "/c " + std::string(508, 'x')},
        {"5000 characters", "/i " + std::string(4997, 'x')},
        {"folder pattern of 32 characters", "/c " + std::string(32, 'p') + ":ID"},
        {"folder pattern leading out of the store", "/c ..\\*:ID"},
        {"log path empty", "/i x.inf /l \"\" /s"},
    };
    Stage stage = make_stage(test_name(), Library::full);
    for (const UsageCase& c : cases) {
        DriveResult r = run(stage, c.tail);
        ASSERT_TRUE(r.started) << c.what;
        EXPECT_EQ(r.exit_code, 3u) << c.what;
        EXPECT_FALSE(r.crashed) << c.what;
        EXPECT_EQ(r.usage_boxes, 1) << c.what;
        EXPECT_EQ(r.usage_caption, usage_caption) << c.what;
        EXPECT_EQ(r.usage_text, usage_text()) << c.what;
        EXPECT_EQ(r.usage_buttons, std::vector<std::string>{"OK"}) << c.what;
        EXPECT_TRUE(r.usage_has_icon) << c.what;
        // The echo comes first on every run (a line is cut at 4094
        // characters); nothing else is traced.
        bool paired = false;
        EXPECT_EQ(trace_lines(r, &paired), (std::vector<std::string>{c.tail.substr(0, 4094), "\n"})) << c.what;
        EXPECT_TRUE(paired) << c.what;
        EXPECT_FALSE(library_was_loaded(stage)) << c.what;
    }
}

TEST(FrontEnd, TheLongestTailIsAccepted)
{
    // 510 characters: a clean of a device that no package names.
    Stage stage = make_stage(test_name(), Library::full);
    std::string tail = "/c " + std::string(507, 'x');
    ASSERT_EQ(tail.size(), 510u);
    DriveResult r = run(stage, tail);
    EXPECT_EQ(r.exit_code, 0u);
    EXPECT_EQ(r.usage_boxes, 0);
    EXPECT_TRUE(library_was_loaded(stage));
}

TEST(FrontEnd, EchoGoesToBothPlacesWithPercentSignsAsTheyStand)
{
    Stage stage = make_stage(test_name(), Library::none);
    const std::string tail = "/i \"%s%n%x%d.inf\"";
    DriveResult r = run(stage, tail);
    EXPECT_EQ(r.exit_code, 4u);
    EXPECT_FALSE(r.crashed);
    EXPECT_EQ(r.debug_strings, (std::vector<std::string>{tail, "\n", "\n", "\n"}));
    ASSERT_EQ(r.viewer_messages.size(), 2u);
    EXPECT_EQ(r.viewer_messages[0].tag, trace_viewer_tag);
    EXPECT_EQ(r.viewer_messages[0].size, tail.size());
    EXPECT_EQ(r.viewer_messages[0].bytes, tail);
    EXPECT_EQ(r.viewer_messages[1].size, 1u);
    EXPECT_EQ(r.viewer_messages[1].bytes, "\n");
}

TEST(FrontEnd, WithoutAViewerOnlyTheDebuggerHearsIt)
{
    Stage stage = make_stage(test_name(), Library::none);
    DriveResult r = run(stage, "/u x.inf", ViewerKind::none);
    EXPECT_EQ(r.exit_code, 4u);
    EXPECT_EQ(r.debug_strings, (std::vector<std::string>{"/u x.inf", "\n", "\n", "\n"}));
}

TEST(FrontEnd, VersionIconAndManifest)
{
    // Every shipped file carries the same full version block.
    const char* const shipped[][2] = {{"Tavenor.exe", "Tavenor.exe"},
                                      {"Corvane.exe", "Corvane.exe"},
                                      {"TavenorRehearsal64.dll", "TavenorRehearsal64.dll"},
                                      {"backend\\DifxApix64.dll", "DifxApix64.dll"}};
    for (const auto& file : shipped) {
        std::string path = program_folder() + file[0];
        DWORD handle = 0;
        DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
        ASSERT_GT(size, 0u) << file[0];
        std::vector<char> data(size);
        ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, data.data())) << file[0];
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT fixed_len = 0;
        ASSERT_TRUE(VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &fixed_len));
        // The project's version (CMakeLists.txt, the one place it is stated) in both forms.
        unsigned v[4] = {};
        ASSERT_EQ(sscanf(TAVENOR_VERSION_TEXT, "%u.%u.%u.%u", &v[0], &v[1], &v[2], &v[3]), 4);
        EXPECT_EQ(fixed->dwFileVersionMS, (v[0] << 16) | v[1]) << file[0];
        EXPECT_EQ(fixed->dwFileVersionLS, (v[2] << 16) | v[3]) << file[0];
        EXPECT_EQ(fixed->dwProductVersionMS, (v[0] << 16) | v[1]) << file[0];
        EXPECT_EQ(fixed->dwProductVersionLS, (v[2] << 16) | v[3]) << file[0];
        const char* fields[][2] = {{"ProductName", "Tavenor"},
                                   {"CompanyName", "Tavenor developers"},
                                   {"LegalCopyright", "Copyright (C) 2026 Tavenor developers"},
                                   {"FileVersion", TAVENOR_VERSION_TEXT},
                                   {"ProductVersion", TAVENOR_VERSION_TEXT},
                                   {"OriginalFilename", file[1]}};
        for (const auto& field : fields) {
            char* value = nullptr;
            UINT len = 0;
            std::string key = std::string("\\StringFileInfo\\040904B0\\") + field[0];
            ASSERT_TRUE(VerQueryValueA(data.data(), key.c_str(), reinterpret_cast<void**>(&value), &len))
                << file[0] << " " << field[0];
            EXPECT_STREQ(value, field[1]) << file[0];
        }
    }

    std::string exe = program_folder() + "Tavenor.exe";
    HMODULE image = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(image, nullptr);
    EXPECT_NE(FindResourceA(image, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24)), nullptr) << "manifest";
    HRSRC group = FindResourceA(image, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(14));
    ASSERT_NE(group, nullptr) << "icon";
    // The icon group lists 16, 32 and 48 px images.
    const unsigned char* dir = static_cast<const unsigned char*>(LockResource(LoadResource(image, group)));
    ASSERT_NE(dir, nullptr);
    unsigned count = dir[4] | (dir[5] << 8);
    std::vector<int> sizes;
    for (unsigned i = 0; i < count; ++i)
        sizes.push_back(dir[6 + i * 14]);
    EXPECT_EQ(sizes, (std::vector<int>{16, 32, 48}));
    FreeLibrary(image);
}

TEST(FrontEnd, NoRuntimeDllBesideTheExecutable)
{
    // Only system DLLs are imported: the runtime is linked in.
    std::string bytes = read_file(program_folder() + "Tavenor.exe");
    ASSERT_FALSE(bytes.empty());
    for (const char* name : {"libstdc++", "libgcc_s", "libwinpthread"})
        EXPECT_EQ(bytes.find(name), std::string::npos) << name;
}

} // namespace
