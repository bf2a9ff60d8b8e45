// Configuration files (INI style) and the path and file helpers.
//
// Configuration files are read and written by our own INI code: section and
// key names match ignoring case, a key with an empty value reads like a
// missing one, and Allegro's token rules apply to lists. Changes reach the
// disk when the section that made them is deleted, through a temporary file
// beside the real one and a rename, so the old file stays whole until the
// new one is complete. Lines the program did not change are kept as they
// were.
#pragma once

#include <memory>
#include <string>
#include <vector>

class Ini_Document;

// One section of a configuration file. Get it from Config_File::get_section,
// use it for the reads and writes at hand, and delete it.
class Config_Section {
public:
    virtual ~Config_Section();
    virtual std::string get_string(const std::string& key, const std::string& def) = 0;
    virtual void set_string(const std::string& key, const std::string& value) = 0;
    // get_string, then fix_file_name_case.
    virtual std::string get_file_name(const std::string& key, const std::string& def) = 0;
    // True only for the value "yes" exactly.
    virtual bool get_bool(const std::string& key, bool def) = 0;
    // Writes "yes" or "no".
    virtual void set_bool(const std::string& key, bool value) = 0;
    virtual int get_int(const std::string& key, int def) = 0;
    virtual void set_int(const std::string& key, int value) = 0;
    // A new vector the caller deletes: the tokens of the value (first 255
    // characters; blank separated; '...' and "..." quote; '#' where a token
    // would begin ends the list; at most 16). Empty for a missing key.
    virtual std::vector<std::string>* get_string_list(const std::string& key) = 0;
    // get_string_list, then fix_file_name_case on every element.
    virtual std::vector<std::string>* get_file_name_list(const std::string& key) = 0;
};

// A named INI file. It holds no open file: the file is read when the first
// section of it is taken. Sections of one Config_File alive at the same time
// share what they read and see each other's changes; each deleted section
// writes its own changes into the file as it is on disk at that moment, so
// no section loses another's change and no key is dropped.
class Config_File {
public:
    explicit Config_File(const std::string& path);
    ~Config_File();
    Config_File(const Config_File&) = delete;
    Config_File& operator=(const Config_File&) = delete;

    // A new section object; the caller deletes it.
    Config_Section* get_section(const std::string& section);

private:
    std::string path_;
    // The file as shared by the sections alive now; loaded afresh when the
    // first of them is taken.
    std::weak_ptr<Ini_Document> document_;
};

class Config_Section_Impl : public Config_Section {
public:
    Config_Section_Impl(const std::string& section, std::shared_ptr<Ini_Document> document);
    ~Config_Section_Impl() override;

    std::string get_string(const std::string& key, const std::string& def) override;
    void set_string(const std::string& key, const std::string& value) override;
    std::string get_file_name(const std::string& key, const std::string& def) override;
    bool get_bool(const std::string& key, bool def) override;
    void set_bool(const std::string& key, bool value) override;
    int get_int(const std::string& key, int def) override;
    void set_int(const std::string& key, int value) override;
    std::vector<std::string>* get_string_list(const std::string& key) override;
    std::vector<std::string>* get_file_name_list(const std::string& key) override;

private:
    std::string section_;
    std::shared_ptr<Ini_Document> document_;
    // What this section set, in order, to be written when it is deleted.
    std::vector<std::pair<std::string, std::string>> changes_;
};

// The tokens of a configuration value by Allegro's rules (see
// Config_Section::get_string_list).
std::vector<std::string> split_config_tokens(const std::string& value);

// String overloads of Allegro's configuration functions. They work on
// Allegro's own current configuration, not on Config_File.
void set_config_file(const std::string& path);
std::string get_config_string(const std::string& section, const std::string& key,
                              const std::string& def);
void set_config_string(const std::string& section, const std::string& key,
                       const std::string& value);
bool get_config_bool(const std::string& section, const std::string& key, bool def);
void set_config_bool(const std::string& section, const std::string& key, bool value);
int get_config_int(const std::string& section, const std::string& key, int def);
void set_config_int(const std::string& section, const std::string& key, int value);
// Allegro's token array, valid until its next call.
char** get_config_argv(const std::string& section, const std::string& key, int* argc);

// Path helpers. The host separator is '/'; '\' is accepted wherever a
// separator is looked for.

// The extension after the last '.' of the last path component, or "".
std::string get_extension(const std::string& name);
// The name without its last extension and dot.
std::string remove_extension(const std::string& name);
void split_extension(const std::string& name, std::string& base, std::string& ext);
// Appends '/' unless the path ends in '/' or '\'.
void add_backslash(std::string& path);
// Turns every '\' into '/'.
void fix_filename_slashes(std::string& path);
// Second character ':', or first character '/' or '\'.
bool is_absolute_path(const std::string& path);
// Wraps the name in double quotes when it holds a space.
void quote_long_file_name(std::string& name);
// Hook applied to every file name read from configuration; leaves it as it is.
void fix_file_name_case(std::string& name);

// Pass std::string arguments: Allegro has C functions of these names too.
// An existing ordinary file (directories, devices and the like do not count).
bool file_exists(const std::string& path);
bool directory_exists(const std::string& path);
// Creates one directory (mode 0775); false also when it exists already.
// Made by root in another user's folder, it is that user's.
bool create_directory(const std::string& path);
// Size in bytes; 0 when missing; files of 2 GiB or more give INT32_MAX.
int file_size(const std::string& path);

// The path to open for a file whose name may differ in letter case from the
// one on disk: the path itself when it exists; otherwise the entry of its
// directory whose name equals the last component ignoring (ASCII) case
// (when several do, the first in byte order); otherwise the path unchanged.
// Only the last component is matched loosely.
std::string resolve_file_name_case(const std::string& path);
