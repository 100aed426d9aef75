// RandomNumber: uniformly distributed integers in [low, high] from the kernel's random source
// (getrandom); suitable for passwords. Thread safe.
#ifndef OUTSIDE_RANDOM_NUMBER_H_
#define OUTSIDE_RANDOM_NUMBER_H_

namespace teska {

class RandomNumber {
 public:
  // Precondition: low <= high (bounds given the other way round are swapped).
  RandomNumber(int low, int high);
  // Throws BaseException when the kernel source fails.
  int getNextNumber();

 private:
  int low_;
  int high_;
};

}  // namespace teska

#endif  // OUTSIDE_RANDOM_NUMBER_H_
