/* Preloaded into the sanitizer test runs only (scripts/test-sanitizers.sh):
 * dlclose does nothing. Libraries that other libraries load and unload again
 * before the process ends (the Mesa driver that EGL loads for SDL) then stay
 * mapped until the leak check at exit, so their frames in leak reports carry
 * their names, which is what the suppressions in lsan.supp match; unloaded,
 * they would only read "<unknown module>". */
int dlclose(void *handle)
{
    (void)handle;
    return 0;
}
