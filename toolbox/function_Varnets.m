function varargout = function_Varnets(varargin)
%FUNCTION_VARNETS  Weighted median and weighted order-statistic filter.
%   B = FUNCTION_VARNETS(A) filters image A with the 3-by-3 median.
%   B = FUNCTION_VARNETS(A, W) weights the window positions with W: a
%   3-by-3 mask, or any m-by-n matrix with m and n odd.
%   B = FUNCTION_VARNETS(A, W, T) returns a lower (T > 0) or higher (T < 0)
%   weighted order statistic instead of the weighted median (T = 0).
%   B = FUNCTION_VARNETS(A, W, T, OPTIONS...) chooses the border and what
%   NaN does, e.g. FUNCTION_VARNETS(A, ones(5), 0, 'symmetric', 'omitnan');
%   see Borders and NaN below.
%
%   Each output pixel comes from the neighbourhood of the input pixel at
%   the same place, centred on it. By default, neighbours beyond the border
%   are replaced by the nearest edge pixel (edge replication, also when the
%   window is larger than A), so B has the size of A. The plain 3-by-3
%   median of an A without NaN and without both -0 and +0 equals
%   MEDFILT2(single(A), [3 3], 'symmetric') in A's class, and equals
%   MEDFILT2(A, [3 3], 'symmetric') itself when every value of A is exact
%   in single precision (single images, integers up to 2^24); IM2DOUBLE
%   data such as k/255 is not, and differs by up to 3e-8. For any window,
%   ORDFILT2(single(A), k, W ~= 0, 'replicate') is the same filter with
%   unit weights (see the rank table below for k); with a border option,
%   ORDFILT2 with the same padding, and 'zeros' gives MEDFILT2(single(A),
%   [m n]) for an m-by-n W of ones.
%
%   Weights W
%     Nine numbers: a 3-by-3 mask, or any 9-element array read in column
%     order. Default ONES(3), also for W = []. W(1,1) weighs the upper-left
%     neighbour and W(2,2) the pixel itself; the mask is not rotated as in
%     CONV2.
%     Any other number of elements: an m-by-n matrix, m and n odd and at
%     most 255, is an m-by-n window; W(i,j) weighs the neighbour at row
%     offset i - (m+1)/2 and column offset j - (n+1)/2. Lines 1-by-n and
%     m-by-1 are windows too, except that a 9-element W is always 3-by-3:
%     write a 1-by-9 line as a 1-by-11 W with zero ends, [0 ones(1,9) 0].
%     A scalar W is refused: FUNCTION_VARNETS(A, 5) most likely means a
%     5-by-5 window, which is ONES(5) (a 1-by-1 window would return A).
%     A disk or other domain is a mask of ones and zeros.
%     Each weight is rounded by adding 0.5 and truncating toward zero
%     (2.5 -> 3, 0.4 -> 0, -1 -> 0, -1.7 -> -1, -2 -> -1). A weight that
%     rounds to 0 leaves its position out of the window; a weight of k
%     counts its value k times.
%
%   Order parameter T
%     A scalar, default 0 (also for T = []), rounded in the same way. With rounded weights
%     Wr >= 0 and rounded order Tr, B is the k-th smallest window value,
%     each value counted Wr times, where
%         k = ceil((sum(Wr(:)) - Tr) / 2), kept within 1 .. sum(Wr(:)).
%     T = 0 gives the weighted median, larger T smaller values and
%     smaller T larger values; T = Inf gives the minimum, T = -Inf the
%     maximum. With unit weights on n taps (n = nnz(W)), the k-th smallest
%     value is T = n + 1 - 2*k where that is 0 or more, and T = n - 2*k
%     below (a negative T rounds toward zero: -3 acts as -2). For ONES(3):
%         minimum  2nd  3rd  4th  median  6th  7th  8th  maximum
%         T = 8     6    4    2     0     -3   -5   -7     -9
%     For ONES(5) (n = 25), the 5th smallest is T = 16 and the maximum
%     T = -25; grayscale erosion over a disk D is T = Inf, dilation -Inf.
%     The general rule, which also covers negative weights: the window
%     values are sorted with their weights, and B is the first value at
%     which the running sum of 2*Wr reaches sum(Wr(:)) - Tr, or the
%     largest value if it never does. If every weight rounds to 0 (as for
%     a normalised mask such as FSPECIAL('gaussian', 3, 1)), the window is
%     empty: B is 0 (for a binary image, all true if Tr < 0, else all
%     false) and the warning function_Varnets:noWeights says so; scale
%     such a mask up first, e.g. W / min(W(W > 0)).
%
%   Example
%     A = [3 5 7 8; 1 4 6 11; 2 0 9 10];
%     % The window of A(2,3) is [5 7 8; 4 6 11; 0 9 10], sorted
%     % 0 4 5 6 7 8 9 10 11.
%     B = function_Varnets(A)             % B(2,3) = 7, the 5th of 9
%     B = function_Varnets(A, ones(3), 2) % B(2,3) = 6, the 4th of 9
%     W = [1 1 1; 1 3 1; 1 1 1];          % the centre counts 3 times:
%     B = function_Varnets(A, W)          % 0 4 5 6 6 6 7 8 9 10 11,
%                                         % B(2,3) = 6, the 6th of 11
%     % The first call returns [3 5 7 8; 2 4 7 9; 2 2 9 10].
%
%   Classes and shapes
%     A must be real and full: double, single, logical, int8 or uint8.
%     double and single images return the same class. logical, int8 and
%     uint8 images are binary: nonzero is true, and B is logical. So a
%     uint8 photograph is NOT filtered as gray levels; convert it first:
%         B = uint8(function_Varnets(single(A)));
%     Other integer classes are refused; filter them the same way
%     (single holds every 16-bit value exactly, and integers up to 2^24).
%     A may be M-by-N or M-by-N-by-P-by-...: every 2-D page (a colour
%     plane, a frame) is filtered on its own. An empty A gives an empty B.
%     W and T may be of any real, full numeric or logical class.
%
%   Single-precision window values
%     Pixels enter the window rounded to single precision, and B holds the
%     chosen single value (returned as double for a double A). Hence
%     function_Varnets(A) equals double(function_Varnets(single(A))), and
%     integers above 2^24 lose their last bits.
%
%   Binary images
%     B is true where twice the summed weight of the false neighbours is
%     below sum(Wr(:)) - Tr. With positive weights this is the rule above
%     applied to 0 and 1, with two exceptions at the extremes: a window
%     with no false value gives false when sum(Wr(:)) - Tr <= 0 (for
%     example T >= 9 with ONES(3)), and a window with no true value gives
%     true when sum(Wr(:)) + Tr < 0 (for example T = -11 with ONES(3)).
%     Binary images are counted, not sorted, so large windows are cheap.
%
%   Borders (an option after T, in any case)
%     'replicate'   the nearest edge pixel (the default)
%     'symmetric'   the image mirrored, the edge pixel repeated (PADARRAY's
%                   'symmetric'); for 3-by-3 the same as 'replicate'
%     'circular'    the image repeated: the right edge's neighbour is the
%                   left edge
%     'zeros'       0 (false for binary images), as MEDFILT2's default
%     'indexed'     1 for double and single images, 0 (false) otherwise,
%                   as MEDFILT2's 'indexed'
%     Mirroring and wrapping repeat as often as a window larger than A
%     needs.
%
%   NaN (an option after T; double and single images)
%     'omitnan'     NaN taps leave the window: k (see T) comes from the
%                   weight that remains, k = ceil((sum of the remaining Wr
%                   - Tr) / 2), kept within range; B is NaN where every
%                   tap holds NaN.
%     'includenan'  B is NaN wherever a tap holds NaN.
%     Without either, NaN is neither skipped nor given a fixed rank. The
%     window is sorted by insertion in window order (column by column from
%     the upper-left; for 3-by-3: upper-left, left, lower-left, upper,
%     centre, lower, upper-right, right, lower-right). A NaN moves to the
%     front when it is inserted; a value inserted later moves in front of
%     that NaN only if it is smaller than every number already behind it.
%     B is NaN where a NaN lands on the chosen rank.
%     Binary images hold no NaN: the options are accepted and change
%     nothing. One border and one NaN option at most; an unknown or a
%     second, different one raises function_Varnets:option.
%     Example: A = [NaN 2 3 4; 5 NaN NaN 8; 9 10 11 NaN];
%       function_Varnets(A, ones(3), 0, 'omitnan')
%       % [2 3 3 4; 5 5 4 4; 9 10 10 8]: B(2,3) is the 3rd of the six
%       % numbers 2 3 4 8 10 11 around it (the lower of the two middle
%       % ones for an even count)
%       function_Varnets(A, ones(3), 0, 'includenan')   % all NaN
%
%   Large images and many images
%     The module keeps no state between calls and starts no threads, so
%     tiles of one image and whole images can be filtered in any order or
%     in parallel. Tiles that overlap by the window's half-size ((m-1)/2
%     rows and (n-1)/2 columns), each filtered with the same W, T and
%     options and trimmed by that overlap, give the bits of one call on
%     the whole image; for 'circular', take the overlap of an edge tile
%     from the opposite edge. In MATLAB, BLOCKPROC with 'BorderSize' and
%     'TrimBorder' does this for images larger than memory (not tested
%     here); a folder of images can be split over workers with PARFOR, or
%     in Octave with PARCELLFUN from the parallel package.
%
%   Errors
%     A refused call raises one of these identifiers, creates no output
%     and leaves the session running:
%       function_Varnets:nargin        no inputs
%       function_Varnets:nargout       more than 1 output
%       function_Varnets:imageClass    A not double, single, logical,
%                                      int8 or uint8
%       function_Varnets:imageComplex  A complex
%       function_Varnets:imageSparse   A sparse
%       function_Varnets:imageTooLarge A has more elements than a 32-bit
%                                      (-compatibleArrayDims) build indexes
%       function_Varnets:weightsClass  W not real, full numeric or logical
%       function_Varnets:weightsSize   W neither 9 elements nor an
%                                      m-by-n matrix with m and n odd,
%                                      at most 255 (a scalar W too)
%       function_Varnets:weightsValue  a weight NaN, Inf, or outside the
%                                      int32 range after rounding
%       function_Varnets:orderClass    T not real, full numeric or logical
%       function_Varnets:orderSize     T not a scalar
%       function_Varnets:orderValue    T is NaN
%       function_Varnets:option        an input after T that is not one
%                                      of the options, or two borders or
%                                      two NaN options that differ
%       function_Varnets:outOfMemory   no memory for B, in hosts whose
%                                      array functions return NULL
%       function_Varnets:notCompiled   this help file was found but not
%                                      the compiled module beside it
%     Out of memory for B, MATLAB and Octave stop the call with their own
%     error instead: MATLAB's out-of-memory error; in Octave "out of
%     memory or dimension too large for Octave's index type"
%     (Octave:bad-alloc) or "function_Varnets: failed to allocate N bytes
%     of memory" (no identifier).
%     One warning: function_Varnets:noWeights when every weight rounds to
%     0 (the call goes on; its result does not depend on A).
%
%   Speed
%     The module picks the fastest code this CPU runs (AVX-512, AVX2,
%     NEON, or plain C++); every choice returns the same bits. To force
%     one for the whole session, set the environment variable before the
%     first call, e.g. setenv('VARNETS_KERNEL', 'scalar'); the names are
%     scalar, avx2, avx512 and neon, and one this CPU cannot run is
%     ignored.
%
%   See also medfilt2, ordfilt2.

% This file holds the help text. The compiled module of the same name in
% this folder takes precedence over it, so this body runs only when the
% module is missing.
[folder, name] = fileparts(mfilename('fullpath'));
if exist(fullfile(folder, 'build_function_Varnets.m'), 'file')
  how = 'Run build_function_Varnets to compile it there.';
else
  how = ['Build it with "make" in the source folder (see README.md), then ' ...
         'add the folder holding the module (build/mex) to the path.'];
end
error('function_Varnets:notCompiled', '%s.%s was not found in %s. %s', ...
      name, mexext(), folder, how);
end

% Octave self-tests (test function_Varnets): the claims of the help text.

%!shared A
%! A = [3 5 7 8; 1 4 6 11; 2 0 9 10];

%!test  # the worked example
%! assert (function_Varnets (A), [3 5 7 8; 2 4 7 9; 2 2 9 10]);
%! assert (function_Varnets (A, ones (3), 2)(2,3), 6);
%! assert (function_Varnets (A, [1 1 1; 1 3 1; 1 1 1])(2,3), 6);

%!test  # k-th smallest of the window with each value counted Wr times
%! rand ("seed", 3);
%! for trial = 1:40
%!   X = round (rand (5, 6) * 20);
%!   W = round (rand (3) * 3);
%!   T = round (rand () * 30) - 15;
%!   P = X([1 1:end end], [1 1:end end]);  # edge replication
%!   expected = zeros (size (X));
%!   n = sum (W(:));
%!   k = min (max (ceil ((n - fix (T + 0.5)) / 2), 1), n);
%!   for c = 1:columns (X)
%!     for r = 1:rows (X)
%!       win = P(r:r+2, c:c+2);
%!       values = sort (repelem (win(:), W(:)));
%!       if (n > 0)
%!         expected(r, c) = values(k);
%!       endif
%!     endfor
%!   endfor
%!   assert (function_Varnets (X, W, T), expected);
%! endfor

%!test  # any odd m-by-n window, also larger than the image
%! rand ("seed", 4);
%! for trial = 1:30
%!   m = 2 * floor (rand () * 4) + 1;
%!   n = 2 * floor (rand () * 4) + 1;
%!   if (m * n == 1 || m * n == 9)  # refused, or a 3-by-3 mask
%!     n = m + 2;
%!   endif
%!   X = round (rand (1 + floor (rand () * 6), 1 + floor (rand () * 6)) * 20);
%!   W = round (rand (m, n) * 3);
%!   W((m + 1) / 2, (n + 1) / 2) += 1;
%!   T = round (rand () * 40) - 20;
%!   rows_in = min (max ((1:rows (X) + m - 1) - (m - 1) / 2, 1), rows (X));
%!   cols_in = min (max ((1:columns (X) + n - 1) - (n - 1) / 2, 1), columns (X));
%!   P = X(rows_in, cols_in);  # edge replication
%!   s = sum (W(:));
%!   k = min (max (ceil ((s - fix (T + 0.5)) / 2), 1), s);
%!   expected = zeros (size (X));
%!   for c = 1:columns (X)
%!     for r = 1:rows (X)
%!       win = P(r:r+m-1, c:c+n-1);
%!       values = sort (repelem (win(:), W(:)));
%!       expected(r, c) = values(k);
%!     endfor
%!   endfor
%!   assert (function_Varnets (X, W, T), expected);
%! endfor
%! X = magic (12);
%! assert (function_Varnets (X, ones (1, 9)), function_Varnets (X, ones (3)));  # 9 elements: 3-by-3
%! P = X(:, [1 1 1 1 1:end end end end end]);
%! line = zeros (size (X));
%! for c = 1:columns (X)
%!   line(:, c) = median (P(:, c:c+8), 2);
%! endfor
%! assert (function_Varnets (X, [0 ones(1, 9) 0]), line);

%!test  # rounding of weights and order: add 0.5, truncate toward zero
%! assert (function_Varnets (A, [2.5 0.4 -1; 1 1.5 1; -0.2 1 0.6], 1.5),
%!         function_Varnets (A, [3 0 0; 1 2 1; 0 1 1], 2));
%! assert (function_Varnets (A, ones (3), -1), function_Varnets (A));
%! assert (function_Varnets (A, ones (3), Inf), function_Varnets (A, ones (3), 9));
%! assert (function_Varnets (A, ones (3), -Inf), function_Varnets (A, ones (3), -10));

%!test  # classes, pages, single-precision window values
%! X = [0.1 0.7 1e8+1; 0.3 0.2 0.9];
%! assert (function_Varnets (X), double (function_Varnets (single (X))));
%! assert (class (function_Varnets (single (X))), "single");
%! assert (function_Varnets (uint8 (A)), function_Varnets (A != 0));
%! assert (uint8 (function_Varnets (single (uint8 (A)))), uint8 (function_Varnets (A)));
%! RGB = cat (3, A, 2 * A, -A);
%! B = function_Varnets (RGB);
%! for p = 1:3
%!   assert (B(:,:,p), function_Varnets (RGB(:,:,p)));
%! endfor
%! assert (size (function_Varnets (zeros (0, 4))), [0 4]);

%!test  # binary images, including the window without a false value
%! L = logical ([1 1 1 1; 1 1 1 0; 1 1 1 1]);
%! for T = -12:12
%!   expected = function_Varnets (double (L), ones (3), T) != 0;
%!   if (9 - fix (T + 0.5) <= 0)
%!     expected(:) = false;
%!   endif
%!   assert (function_Varnets (L, ones (3), T), expected);
%! endfor

%!test  # the all-false window at the far end of the order
%! assert (function_Varnets (false (3), ones (3), -11), true (3));
%! assert (function_Varnets (false (3), ones (3), -10), false (3));
%! assert (function_Varnets (zeros (3), ones (3), -11), zeros (3));
%!test  # the rank table
%! X = magic (4);
%! T = [8 6 4 2 0 -3 -5 -7 -9];
%! for k = 1:9
%!   P = X([1 1:end end], [1 1:end end]);
%!   win = sort (reshape (P(2:4, 2:4), [], 1));
%!   B = function_Varnets (X, ones (3), T(k));
%!   assert (B(2,2), win(k));
%! endfor

%!test  # NaN placement by insertion in window order
%! W = [0 0 0; 1 1 1; 0 0 0];  # left, centre, right
%! assert (function_Varnets ([NaN 1 2], W, 100)(2), 1);  # inserted first: last
%! assert (function_Varnets ([NaN 1 2], W, -100)(2), NaN);
%! assert (function_Varnets ([2 1 NaN], W, 100)(2), NaN);  # inserted last: first
%! W = [0 1 0; 1 1 1; 0 0 0];  # left, upper, centre, right; T = 0: 2nd of 4
%! assert (function_Varnets ([0 NaN 0; 5 4 6], W)(2,2), NaN);  # 4 < 5 passes it
%! assert (function_Varnets ([0 NaN 0; 5 7 6], W)(2,2), 5);

%!test  # borders: the replicated filter of A padded by the border, trimmed
%! X = magic (6);
%! W = [1 2 1; 0 1 3; 1 0 2];
%! m = rows (X); n = columns (X);
%! Z = zeros (m + 2, n + 2); Z(2:end-1, 2:end-1) = X;
%! expected = function_Varnets (Z, W, 1)(2:end-1, 2:end-1);
%! assert (function_Varnets (X, W, 1, "zeros"), expected);
%! Z(:) = 1; Z(2:end-1, 2:end-1) = X;
%! assert (function_Varnets (X, W, 1, "Indexed"), function_Varnets (Z, W, 1)(2:end-1, 2:end-1));
%! C = X([end 1:end 1], [end 1:end 1]);
%! assert (function_Varnets (X, W, 1, "circular"), function_Varnets (C, W, 1)(2:end-1, 2:end-1));
%! assert (function_Varnets (X, W, 1, "symmetric"), function_Varnets (X, W, 1));  # 3-by-3
%! V = ones (5);
%! S = X([2 1 1:end end end-1], [2 1 1:end end end-1]);  # mirrored two deep
%! assert (function_Varnets (X, V, 0, "symmetric"), function_Varnets (S, V)(3:end-2, 3:end-2));

%!test  # NaN options
%! A = [NaN 2 3 4; 5 NaN NaN 8; 9 10 11 NaN];
%! assert (function_Varnets (A, ones (3), 0, "omitnan"), [2 3 3 4; 5 5 4 4; 9 10 10 8]);
%! assert (function_Varnets (A, ones (3), 0, "includenan"), NaN (3, 4));
%! assert (function_Varnets (NaN (2), ones (3), 0, "omitnan"), NaN (2));
%! assert (function_Varnets (A > 3, ones (3), 0, "omitnan"), function_Varnets (A > 3));

%!error id=function_Varnets:nargin function_Varnets ()
%!error id=function_Varnets:option function_Varnets (1, ones (3), 0, "mirror")
%!error id=function_Varnets:option function_Varnets (1, ones (3), 0, "zeros", "circular")
%!error id=function_Varnets:imageClass function_Varnets (int16 (1))
%!error id=function_Varnets:weightsSize function_Varnets (1, ones (2))
%!error id=function_Varnets:weightsSize function_Varnets (1, 5)
%!error id=function_Varnets:weightsValue function_Varnets (1, [1 1 1 1 NaN 1 1 1 1])
%!error id=function_Varnets:orderValue function_Varnets (1, ones (3), NaN)
