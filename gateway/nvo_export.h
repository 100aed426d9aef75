// Symbol visibility of libnvo. The library is built with hidden visibility; what carries NVO_API
// is its public interface (the document class and node handle, the session class and the free
// functions).
#ifndef GATEWAY_NVO_EXPORT_H_
#define GATEWAY_NVO_EXPORT_H_

#define NVO_API __attribute__((visibility("default")))

#endif  // GATEWAY_NVO_EXPORT_H_
