#pragma once

// Where a path lies against the Samba chroot directory.

#include <boost/filesystem/path.hpp>

// Whether the canonical `path` is the canonical `top` or lies below it, by components: "/srv/sambaX"
// shares a prefix with "/srv/samba" but lies outside it, and "/" holds everything.
bool sm_path_within(boost::filesystem::path const& top, boost::filesystem::path const& path);
