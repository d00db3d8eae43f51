// "install", "uninstall" and "set-agent-values" of schedexe-control.
#ifndef SCHEDEXE_TOOLS_SERVICE_INSTALL_COMMAND_H_
#define SCHEDEXE_TOOLS_SERVICE_INSTALL_COMMAND_H_

// The usage lines of these commands.
extern const char kInstallUsage[];

// Runs "install ...", "uninstall" or "set-agent-values ..." (argv[1] is the
// command word). -1 when argv[1] is none of them; otherwise the exit code:
// 0 done, 1 a step failed (one line on standard error), 2 a wrong argument
// or not Windows.
int RunInstallCommand(int argc, char** argv);

#endif  // SCHEDEXE_TOOLS_SERVICE_INSTALL_COMMAND_H_
