#pragma once

// Where a path lies against the Samba chroot directory.

#include <cstddef>
#include <string>

#include <boost/filesystem/path.hpp>

// The path with every link, "." and ".." resolved, one name at a time through the folder before it;
// empty when it cannot be, `error` then holding the errno of why (ENOENT also for a file taken for a
// folder).
std::string sm_real_path(std::string const& path, int& error);

// Whether the canonical `path` is the canonical `top` or lies below it, by components: "/srv/sambaX"
// shares a prefix with "/srv/samba" but lies outside it, and "/" holds everything.
bool sm_path_within(boost::filesystem::path const& top, boost::filesystem::path const& path);

// The canonical form of the path a module asked about, taken below the canonical `chroot_dir`;
// `chroot_size` gets the length of the canonical chroot directory that it begins with. Throws when
// the path cannot be made canonical, holds a NUL byte or leads outside the chroot directory, with the
// texts that boost::filesystem::canonical gives.
boost::filesystem::path sm_normalize_path(std::string const& chroot_dir, boost::filesystem::path const& path,
                                          std::size_t& chroot_size);
