// Where a run finds the textures its models name. Named by the host (--textures DIR|URL, the
// window's "Textures" box), or by default: in file mode the folder "textures" beside the models'
// folder (objects/models/*.zip: objects/textures/) and the models' folder itself; in web mode the
// web folder "textures/" beside the object path's URL. No textures folder known: no finder, and
// no model is said to lack a texture.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "boxtally/driver/process_model.h"
#include "boxtally/driver/run_host.h"
#include "boxtally/textures/texture_library.h"

namespace driver {

// The folder beside the models' folder `models_dir` (a pattern's folder part, ending with '/' or
// empty for the current folder): "objects/models/" gives "objects/textures/", "" gives
// "../textures/". Empty when the models' folder has no parent (the root).
std::string SiblingTexturesFolder(const std::string& models_dir);

// True for a --textures value that names a web folder (http:// or https://, any letter case).
bool IsTexturesUrl(const std::string& named);

// The run's textures: nullptr when no textures folder is known. `pattern` is the models' pattern
// (file mode); in web mode the host's web controls give the object path and the list file. A
// named folder that cannot be read is logged and gives none.
std::shared_ptr<textures::TextureLibrary> OpenRunTextures(RunHost& host, const std::string& pattern,
                                                          const RunState& state);

// The names of `names` the run's textures lack, in their order.
std::vector<std::string> MissingTextures(render::TextureSource& textures,
                                         const std::vector<std::string>& names);

}  // namespace driver
