// The translation unit that builds the test framework's precompiled header, which every test
// program reuses.
