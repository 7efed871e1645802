# The system module's Wine tests (host build); the programs live in
# build/win32. Each program checks one group of operations against the real
# Win32 behaviour of the prefix.
add_wine_test(system.paths system_paths_test)
add_wine_test(system.activation system_activation_test)
add_wine_test(system.restart system_restart_test)
add_wine_test(system.actions system_actions_test)
add_wine_test(system.windows system_windows_test)
