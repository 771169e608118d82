#pragma once
// The folders and programs a test program uses, by macro name (VL_BINARY_DIR, VL_CLIENT_PATH, ...).
// Each macro calls this lookup; the values are compiled into one generated source of the program
// (vl_test_paths in cmake/VLHelpers.cmake), so no other test source depends on where the clone lies.
const char* VLTestPath(const char* name);
