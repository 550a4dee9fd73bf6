// The commands: one Command<Name>.cpp each, declaring its subcommand and options with CLI11 and
// running it. A new command adds its declaration here and in commandDeclarations().
#pragma once

#include <vector>

#include "Arguments.h"

namespace qrmhost {

void declareAutodetect(CLI::App& app, CommandRun& chosen);
void declareModels(CLI::App& app, CommandRun& chosen);
void declareDevice(CLI::App& app, CommandRun& chosen);
void declareDiscover(CLI::App& app, CommandRun& chosen);
void declareIo(CLI::App& app, CommandRun& chosen);
void declareLive(CLI::App& app, CommandRun& chosen);
void declarePtz(CLI::App& app, CommandRun& chosen);
void declareDetect(CLI::App& app, CommandRun& chosen);
void declareThermal(CLI::App& app, CommandRun& chosen);
// Edge storage (CommandStorage.cpp).
void declareRecordings(CLI::App& app, CommandRun& chosen);
void declarePlayback(CLI::App& app, CommandRun& chosen);
// Many cameras in one process (CommandFleet.cpp).
void declareFleet(CLI::App& app, CommandRun& chosen);
// The fleet behind an HTTP server (CommandServe.cpp).
void declareServe(CLI::App& app, CommandRun& chosen);
// The certificate fingerprint of an HTTPS camera (CommandFingerprint.cpp).
void declareFingerprint(CLI::App& app, CommandRun& chosen);
// The loudspeaker (CommandSpeak.cpp).
void declareSpeak(CLI::App& app, CommandRun& chosen);

const std::vector<CommandDeclaration>& commandDeclarations();

}  // namespace qrmhost
