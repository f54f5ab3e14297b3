// Quorex's dialog templates, loaded once before the first dialog shows.
#pragma once

namespace quorex {

bool LoadQuorexResources();

}  // namespace quorex
