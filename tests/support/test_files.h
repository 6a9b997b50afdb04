// Real files and folders for the tests, made and removed through the
// platform's own calls.
#pragma once

#include <string>
#include <vector>

bool make_dirs(const std::string& path);                      // with its parents
bool write_file(const std::string& path, const std::string& bytes);
std::string read_file(const std::string& path);               // empty when missing
bool file_exists(const std::string& path);
bool dir_exists(const std::string& path);
void remove_tree(const std::string& path);                    // clears read-only flags too
std::vector<std::string> list_names(const std::string& pattern); // bare names, listing order, no . and ..

// The user's temporary folder, with a trailing backslash.
std::string temp_folder();
// Names of the "Dev*" files and folders in the temporary folder.
std::vector<std::string> dev_temp_entries();

// A fresh, empty folder for one test under the test program's folder.
std::string fresh_work_folder(const std::string& name);

// Every file and folder under root with its size, for "untouched" checks.
std::string tree_snapshot(const std::string& root);

// The running test's name, for folders of its own.
std::string test_name();
// The prefix's system folder (C:\windows\system32), without a trailing backslash.
std::string system_dir();

// Runs a command of the host (/bin/sh -c) from under Wine; false where it
// cannot be started.  Wine tells neither its end nor its exit code: the
// caller looks for what the command made.
bool host_shell(const std::string& command);
// The host's name of a path of the prefix; empty where there is no host.
std::string host_path(const std::string& path);

std::vector<std::string> split_lines(const std::string& text);
std::vector<std::string> split_tabs(const std::string& line);
