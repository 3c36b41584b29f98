// The main of the wizard's test programs: offscreen Qt, one QApplication for
// every test. The platform is set here, not by CTest, because the test
// listing at build time runs this program with no CTest environment.

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

// Leaks inside Qt's, fontconfig's and glib's own caches, which live until
// the process ends. Here rather than in a file, so that they also hold when
// the tests are listed at build time.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libQt6Core\n"
           "leak:libQt6Gui\n"
           "leak:libQt6Widgets\n"
           "leak:libfontconfig\n"
           "leak:libglib-2.0\n"
           "leak:libgobject-2.0\n";
}

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
