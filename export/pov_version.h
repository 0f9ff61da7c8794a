// The POV-Ray releases an export file can be written for.
#ifndef PLANTSCATTER_EXPORT_POV_VERSION_H_
#define PLANTSCATTER_EXPORT_POV_VERSION_H_

namespace plantscatter {

enum class PovVersion {
  // POV-Ray 3.7, which has no arrays of mixed types: each of a plant's five values has an
  // array of its own, and the viewer scene keeps its per-type objects and colours apart.
  k37,
  // POV-Ray 3.8 and later: one two-dimensional `array mixed` holds all of a plant's values.
  k38,
};

}  // namespace plantscatter

#endif  // PLANTSCATTER_EXPORT_POV_VERSION_H_
