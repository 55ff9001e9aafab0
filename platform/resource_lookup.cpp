// find_resource: the program's own resources, unless a test stands in for them.

#include <utility>

#include "platform/resources.h"

namespace platform {
namespace {

ResourceLookup& lookup_override() {
  static ResourceLookup lookup;
  return lookup;
}

}  // namespace

void set_resource_lookup(ResourceLookup lookup) { lookup_override() = std::move(lookup); }

std::optional<ByteView> find_resource(std::string_view name) {
  if (const ResourceLookup& lookup = lookup_override()) return lookup(name);
  return find_own_resource(name);
}

}  // namespace platform
