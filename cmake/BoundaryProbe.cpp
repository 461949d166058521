// Compiled only by the boundary tests (cmake/Boundary.cmake): the first include must be
// found, the second must not.
#include KURIMO_PROBE_ALLOWED
#include KURIMO_PROBE_FORBIDDEN
