// Where a task was posted from: the posting function's name (spelled out in
// full, such as "vulmo::net_installer::NetInstaller::Start"), file and line.
#ifndef BASE_LOCATION_H_
#define BASE_LOCATION_H_

namespace base {

class Location {
 public:
  Location() = default;
  Location(const char* function_name, const char* file_name, int line_number,
           const void* program_counter)
      : function_name_(function_name),
        file_name_(file_name),
        line_number_(line_number),
        program_counter_(program_counter) {}

  const char* function_name() const { return function_name_; }
  const char* file_name() const { return file_name_; }
  int line_number() const { return line_number_; }
  const void* program_counter() const { return program_counter_; }

 private:
  const char* function_name_ = "unknown";
  const char* file_name_ = "unknown";
  int line_number_ = -1;
  const void* program_counter_ = nullptr;
};

// The address the caller returns to; identifies the posting call site.
const void* GetProgramCounter();

}  // namespace base

#define FROM_HERE_WITH_EXPLICIT_FUNCTION(function_name) \
  ::base::Location(function_name, __FILE__, __LINE__, ::base::GetProgramCounter())
#define FROM_HERE FROM_HERE_WITH_EXPLICIT_FUNCTION(__func__)

#endif  // BASE_LOCATION_H_
