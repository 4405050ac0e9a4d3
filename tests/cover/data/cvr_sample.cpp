// Coverage test sample, scanned and built with RUNDIF_CVR: keep its lines.
// Markers in comments do not count: _cv if
// clang-format off
#include "base/cover/cover.h"
namespace cvr_sample
{

#define CVR_TWICE(x) ((x) * 2) /* a preprocessor line: if _cv */

int classify(int n)
{
    _cv;
    int r = 0/2*1; // a division then a product: no comment starts at "/2*"
    if (_cv_if(n > 0)) { r = 1; } if (_cv_if(n > 10)) { r = 2; }
    const char *s = "if (_cv) \" _cv"; /* a comment
       over two lines: if _cv */ (void)s;
    char q = '\''; (void)q;
    _nc if (n == 12345) r = -1;
    if (_cv_if(n < 0))
        r = CVR_TWICE(r) - 1;
    return r;
}

void never()
{
    _cv;
}

} // namespace cvr_sample
