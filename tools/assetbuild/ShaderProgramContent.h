#pragma once
// Shader programs for the content tool ("shaderprog" type word: the packed
// word is the engine's ShaderProgram type id, which a longer word could not
// be). The source is GLSL text of one vertex or fragment program starting
// with the line "#version 140"; the manifest names its stage with
// stage=vertex or stage=fragment. The asset is the text behind the one-line
// header of the engine's program texts, "//" + the length of the rest in 8
// hexadecimal digits + " " + the stage digit (0 vertex, 1 fragment), which the
// program loaders read and the GLSL compiler takes as a comment.

#include "AssetManifest.h"

#include "quern/graphics/ShaderProgram.h"

#include <string>
#include <vector>

namespace quern::assetbuild {

// "vertex" or "fragment"; false for any other word.
bool parseProgramStage(const std::string& word, graphics::ShaderProgramType& stage);

// The program asset made from a GLSL source. False with the reason for a
// source that does not start with the line "#version 140", holds a zero byte,
// or is too long for the header's count.
bool writeShaderProgram(const std::vector<u8>& source, graphics::ShaderProgramType stage, std::vector<u8>& program,
    std::string& reason);

// Reads a program asset as the engine's program loaders do: the stage digit
// must lie inside the text and name `stage`, the header must be whole and its
// count the length of the rest. False with the reason otherwise.
bool checkShaderProgram(const u8* bytes, u64 size, graphics::ShaderProgramType stage, std::string& reason);

// True for assets of other types (which must not carry a stage). For a
// shader program: its source becomes the program asset; false, with a
// message naming the manifest line, for a missing or unknown stage or a
// source the engine could not load.
bool convertShaderProgramContent(const ManifestAsset& asset, std::vector<u8>& bytes, std::string& error);

} // namespace quern::assetbuild
