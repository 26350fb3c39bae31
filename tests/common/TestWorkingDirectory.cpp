// Every unit and GL test process runs in a working directory of its own, made for it in the
// system's temporary folder: empty configuration folders, as a fresh checkout has them, and a link
// to the repository's shaders. So a test that stores a calibration, a depth correction or
// tf_static.yaml writes there, never into the checkout's own config/, and tests that run side by
// side never see each other's files. The folder goes when the process ends.
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

std::filesystem::path folder; // the process's working directory, while the tests run

class TestWorkingDirectory : public ::testing::Environment {
public:
    void SetUp() override
    {
        namespace fs = std::filesystem;
        std::string pattern = (fs::temp_directory_path() / "tavorin-test-XXXXXX").string();
        ASSERT_NE(nullptr, ::mkdtemp(pattern.data())) << "cannot make a temporary working directory";
        folder = pattern;
        for (const char* sub : {"azure", "hdf5/a", "hdf5/b", "hdf5/c", "hdf5/velto", "hdf5/default", "ros"})
            fs::create_directories(folder / "config" / "cameras" / sub);
        fs::create_directory_symlink(fs::path(TAVORIN_SOURCE_DIR) / "shaders", folder / "shaders");
        previous = fs::current_path();
        fs::current_path(folder);
    }

    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::current_path(previous, ignored);
        std::filesystem::remove_all(folder, ignored);
    }

private:
    std::filesystem::path previous;
};

const auto* const kRegistered = ::testing::AddGlobalTestEnvironment(new TestWorkingDirectory);

} // namespace

std::string testFilePath(const std::string& name)
{
    return (folder / name).string();
}
