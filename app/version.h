#pragma once

// The tool's version as the log and the run report state it.
namespace ToolVersion {
constexpr int kMajor = 17;
constexpr int kMinor = 30;
constexpr int kBuild = 134;
constexpr int kRevision = 0;
} // namespace ToolVersion
