// The editor's test program starts its own display once.
#include "SettingsEditor/EditorTest.h"

namespace {
::testing::Environment* const g_display = ::testing::AddGlobalTestEnvironment(new editor_test::Display);
}
