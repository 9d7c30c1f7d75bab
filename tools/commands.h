// Subcommands of the quorrel program. Each takes the arguments that follow
// the program name (argv[0] is the subcommand's own name) and returns the
// process exit status. To add one: write tools/cmd_<name>.cpp, declare its
// function here and add one line to the table in main.cpp.
#pragma once

int cmd_version(int argc, char **argv);
int cmd_cpu(int argc, char **argv);
int cmd_decode(int argc, char **argv);
int cmd_encode(int argc, char **argv);
int cmd_info(int argc, char **argv);
int cmd_thumbnail(int argc, char **argv);
int cmd_coefficients(int argc, char **argv);
int cmd_batch(int argc, char **argv);
