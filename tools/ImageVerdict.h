#pragma once

#include <string>

#include "engine/ImageScan.h"

// How the command line judges an image, in one wording for `veq info` and
// `veq flash`. Main thread (any thread: pure functions).

// The verdict on one section, as `veq info --all` lists it.
std::string SectionStatusText(const TSectionReport& section);

// Empty when a run would write the image at path to its successful end;
// otherwise why not, naming the first section that stops it with its
// verdict.
std::string ImageProblem(const TImageScan& scan, const std::string& path);
