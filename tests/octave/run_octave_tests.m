function failures = run_octave_tests ()
  % Runs the module's tests in this Octave session; returns the failure count.
  checks = {@worked_examples, @one_byte_classes, @agrees_with_medfilt2, ...
            @any_window_agrees_with_ordfilt2, @every_border_agrees_with_ordfilt2, ...
            @nan_rules_drop_or_propagate_nan, @tiles_equal_the_whole_image, ...
            @batches_run_in_parallel, ...
            @classes_shapes_and_defaults, @all_zero_weights_warn, ...
            @bad_calls_raise_identified_errors};
  passed = 0;
  failures = 0;
  for i = 1:numel (checks)
    name = func2str (checks{i});
    try
      checks{i} ();
      passed++;
      printf ("ok      %s\n", name);
    catch err
      failures++;
      printf ("FAILED  %s: %s\n", name, err.message);
    end_try_catch
  end
  printf ("%d passed, %d failed\n", passed, failures);
end

function expect_bits (got, expected, what)
  if (! strcmp (class (got), class (expected)) || ! isequal (size (got), size (expected)))
    error ("%s: got %s %s, expected %s %s", what, class (got), mat2str (size (got)), ...
           class (expected), mat2str (size (expected)));
  end
  if (isfloat (got))
    same = (got == expected & signbit (got) == signbit (expected)) | (isnan (got) & isnan (expected));
  else
    same = got == expected;
  end
  if (! all (same(:)))
    k = find (! same, 1);
    [r, c] = ind2sub (size (got), k);
    error ("%s: first mismatch at row %d, column %d: got %.17g, expected %.17g", ...
           what, r, c, double (got(k)), double (expected(k)));
  end
end

function worked_examples ()
  A = [3 5 7 8; 1 4 6 11; 2 0 9 10];
  cases = {
    "median",          ones(3), 0,   [3 5 7 8; 2 4 7 9; 2 2 9 10]
    "order 2",         ones(3), 2,   [3 4 6 8; 2 3 6 8; 1 2 6 10]
    "order -3",        ones(3), -3,  [3 5 7 8; 3 5 8 10; 2 4 9 10]
    "order 100",       ones(3), 100, [1 1 4 6; 0 0 0 6; 0 0 0 6]
    "centre weight 3", [1 1 1; 1 3 1; 1 1 1], 0, [3 5 7 8; 2 4 6 10; 2 2 9 10]
  };
  for i = 1:rows (cases)
    expect_bits (function_Varnets (A, cases{i, 2}, cases{i, 3}), cases{i, 4}, cases{i, 1});
  end
  N = [1 3 6; NaN 4 7; 2 5 8];
  expect_bits (function_Varnets (N, ones(3), 0), [1 3 6; 2 4 6; 2 5 7], "NaN median");
  expect_bits (function_Varnets (N, ones(3), 100), [NaN NaN 3; NaN NaN 3; NaN 2 4], "NaN walk");
  expect_bits (function_Varnets (0.1, [0 0 0; 0 1 0; 0 0 0], 0), double (single (0.1)), "single rounding");
end

function one_byte_classes ()
  L = logical ([0 0 1 0; 1 1 1 0; 1 0 0 1]);
  median = logical ([0 1 0 0; 1 1 0 0; 1 1 0 1]);
  expect_bits (function_Varnets (L, ones(3), 0), median, "logical");
  expect_bits (function_Varnets (uint8 (L) * 5, ones(3), 0), median, "uint8");
  expect_bits (function_Varnets (int8 (L) * -3, ones(3), 0), median, "int8");
  expect_bits (function_Varnets (double (L), ones(3), 0), double (median), "as doubles");
  expect_bits (function_Varnets (L, ones(3), 2), logical ([0 0 0 0; 0 0 0 0; 1 0 0 0]), "logical order 2");
end

function agrees_with_medfilt2 ()
  pkg load image  % medfilt2 needs at least a 3x3 image
  rand ("seed", 7); randn ("seed", 7);
  for sz = [3 3; 3 7; 17 5; 64 48; 200 130]'
    A = double (single (randn (sz(1), sz(2))));
    expect_bits (function_Varnets (A), medfilt2 (A, [3 3], "symmetric"), sprintf ("%dx%d", sz));
    T = double (single (round (rand (sz(1), sz(2)) * 4)));  % ties
    expect_bits (function_Varnets (T), medfilt2 (T, [3 3], "symmetric"), sprintf ("ties %dx%d", sz));
  end
end

function any_window_agrees_with_ordfilt2 ()
  % Unit weights on a domain: the k-th smallest is ordfilt2's order k, with
  % T = n + 1 - 2k for n taps (n - 2k where that is negative, as a negative T
  % rounds toward zero); lines, rectangles, a disk, single and double.
  % ordfilt2 refuses domains larger than the image.
  pkg load image
  rand ("seed", 8); randn ("seed", 8);
  [x, y] = meshgrid (-3:3);
  domains = {ones(5), ones(7), ones(9, 3), ones(1, 15), ones(15, 1), ones(15), ...
             double(x.^2 + y.^2 <= 9), [0 1 0; 1 1 1; 0 1 0; 1 0 1; 0 1 0]};
  for i = 1:numel (domains)
    D = domains{i};
    n = nnz (D);
    for sz = [40 33; 15 17]'
      A = single (randn (sz(1), sz(2)));
      for k = unique ([1, 2, ceil(n / 2), n - 1, n])
        T = n + 1 - 2 * k;
        if (T < 0)
          T = n - 2 * k;
        end
        expected = ordfilt2 (A, k, D ~= 0, "replicate");
        what = sprintf ("%dx%d domain %d, order %d, %dx%d image", rows (D), columns (D), i, k, sz);
        expect_bits (function_Varnets (A, D, T), expected, what);
        expect_bits (function_Varnets (double (A), D, T), double (expected), what);
      end
    end
  end
end

function every_border_agrees_with_ordfilt2 ()
  % Each border option against ordfilt2 with the same padding (a number for
  % 'zeros' and 'indexed'), and 'zeros' against medfilt2, whose default it
  % is; windows up to larger than half the image.
  pkg load image
  rand ("seed", 9); randn ("seed", 9);
  [x, y] = meshgrid (-3:3);
  domains = {ones(3), [0 1 0; 1 1 1; 0 1 0], ones(5), ones(7, 3), double(x.^2 + y.^2 <= 9), ones(15)};
  borders = {"replicate", "replicate"; "symmetric", "symmetric"; "circular", "circular"; ...
             "zeros", 0; "indexed", 1};
  for i = 1:numel (domains)
    D = domains{i};
    n = nnz (D);
    for sz = [40 33; 17 16]'
      A = single (randn (sz(1), sz(2)));
      for b = 1:rows (borders)
        for k = unique ([1, ceil(n / 2), n])
          T = n + 1 - 2 * k;
          if (T < 0)
            T = n - 2 * k;
          end
          what = sprintf ("%s, %dx%d domain %d, order %d, %dx%d image", borders{b, 1}, size (D), i, k, sz);
          expected = ordfilt2 (A, k, D ~= 0, borders{b, 2});
          expect_bits (function_Varnets (A, D, T, borders{b, 1}), expected, what);
          expect_bits (function_Varnets (double (A), D, T, upper (borders{b, 1})), double (expected), what);
        end
      end
      if (mod (n, 2) == 1 && all (D(:) == 1))
        expect_bits (function_Varnets (A, D, 0, "zeros"), medfilt2 (A, size (D)), ...
                     sprintf ("medfilt2 %dx%d on %dx%d", size (D), sz));
      end
    end
  end
  % Binary images: 'zeros' and 'indexed' pad with false.
  L = rand (9, 8) > 0.3;
  expect_bits (function_Varnets (L, ones (3), 8, "indexed"), ordfilt2 (L, 1, true (3), false), "logical indexed");
  expect_bits (function_Varnets (L, ones (5), -24, "circular", "omitnan"), ordfilt2 (L, 25, true (5), "circular"), "logical circular");
end

function nan_rules_drop_or_propagate_nan ()
  % 'omitnan': the k-th of the window's other values, k from their count;
  % NaN where all are NaN. 'includenan': NaN wherever the window holds one.
  A = [NaN 2 3 4; 5 NaN NaN 8; 9 10 11 NaN];
  expect_bits (function_Varnets (A, ones (3), 0, "omitnan"), ...
               [2 3 3 4; 5 5 4 4; 9 10 10 8], "omitnan median (the lower one of two)");
  expect_bits (function_Varnets (A, ones (3), 0, "includenan"), NaN (3, 4), "includenan");
  expect_bits (function_Varnets (A, [0 0 0; 0 1 1; 0 0 0], 0, "includenan", "zeros"), ...
               [NaN 2 3 0; NaN NaN NaN 0; 9 10 NaN NaN], "includenan, two taps, zeros");
  expect_bits (function_Varnets (NaN (2), ones (3), 0, "omitnan"), NaN (2), "all NaN");
  expect_bits (function_Varnets (single (A), ones (3), 8, "OmitNaN"), single ([2 2 2 3; 2 2 2 3; 5 5 8 8]), "omitnan minimum");
end

function tiles_equal_the_whole_image ()
  % Filtering in tiles that overlap by the window's half-size, each tile
  % given the whole call's border option, gives the whole call's bits;
  % for 'circular' the overlap wraps around the image instead.
  rand ("seed", 10);
  A = rand (700, 650);
  A(rand (size (A)) < 0.01) = NaN;
  W = [1 2 3 2 1; 2 4 6 4 2; 1 2 3 2 1];
  h = (size (W) - 1) / 2;
  tile = [256 192];
  for border = {"replicate", "symmetric", "circular", "zeros", "indexed"}
    for rule = {"omitnan", "includenan"}
      whole = function_Varnets (A, W, 1, border{1}, rule{1});
      B = zeros (size (A));
      for r0 = 1:tile(1):rows (A)
        for c0 = 1:tile(2):columns (A)
          r = r0:min (r0 + tile(1) - 1, rows (A));
          c = c0:min (c0 + tile(2) - 1, columns (A));
          if (strcmp (border{1}, "circular"))
            rr = mod (r(1) - h(1) - 1:r(end) + h(1) - 1, rows (A)) + 1;
            cc = mod (c(1) - h(2) - 1:c(end) + h(2) - 1, columns (A)) + 1;
            first = h + 1;   % where the tile starts in its overlapping copy
          else
            rr = max (1, r(1) - h(1)):min (rows (A), r(end) + h(1));
            cc = max (1, c(1) - h(2)):min (columns (A), c(end) + h(2));
            first = [r(1) - rr(1), c(1) - cc(1)] + 1;
          end
          T = function_Varnets (A(rr, cc), W, 1, border{1}, rule{1});
          B(r, c) = T(first(1) - 1 + (1:numel (r)), first(2) - 1 + (1:numel (c)));
        end
      end
      expect_bits (B, whole, sprintf ("tiles, %s, %s", border{1}, rule{1}));
    end
  end
end

function batches_run_in_parallel ()
  % The module keeps no state between calls, so a batch can be split over
  % processes: parcellfun from the octave-parallel package.
  pkg load parallel
  rand ("seed", 11);
  images = arrayfun (@(k) rand (120, 90 + k), 1:6, "UniformOutput", false);
  filter = @(A) function_Varnets (A, ones (5), 0, "symmetric");
  B = parcellfun (2, filter, images, "UniformOutput", false, "VerboseLevel", 0);
  for k = 1:numel (images)
    expect_bits (B{k}, filter (images{k}), sprintf ("image %d of the batch", k));
  end
end

function classes_shapes_and_defaults ()
  A = magic (6);
  expect_bits (function_Varnets (single (A)), single (function_Varnets (A)), "single");
  expect_bits (function_Varnets (zeros (0, 3)), zeros (0, 3), "empty double");
  expect_bits (function_Varnets (false (2, 0, 3)), false (2, 0, 3), "empty logical");
  expect_bits (function_Varnets ([5 1 4 2 3]), [5 4 2 3 3], "one row");
  expect_bits (function_Varnets ([5; 1; 4; 2; 3]), [5; 4; 2; 3; 3], "one column");
  S = cat (3, A, -A, A');
  B = function_Varnets (S, [1 2 1; 2 3 2; 1 2 1], 1);
  for p = 1:3
    expect_bits (B(:, :, p), function_Varnets (S(:, :, p), [1 2 1; 2 3 2; 1 2 1], 1), sprintf ("page %d", p));
  end
  expect_bits (function_Varnets (A, int8 (ones (1, 9)), int16 (2)), function_Varnets (A, ones (3), 2), "integer arguments");
  expect_bits (function_Varnets (A, ones (3), Inf), function_Varnets (A, ones (3), 100), "order Inf");
  expect_bits (function_Varnets (A, ones (3), -Inf), function_Varnets (A, ones (3), -9), "order -Inf");
  expect_bits (function_Varnets (A, [], 2), function_Varnets (A, ones (3), 2), "[] weights");
  expect_bits (function_Varnets (A, [1 2 1; 2 3 2; 1 2 1], []), function_Varnets (A, [1 2 1; 2 3 2; 1 2 1]), "[] order");
end

% Through Octave's own warning machinery: the identifier reaches lastwarn,
% and turning the warning off silences it.
function all_zero_weights_warn ()
  A = magic (4);
  lastwarn ("", "");
  expect_bits (function_Varnets (A, 0.49 * ones (3)), zeros (4), "0.49 * ones(3)");
  [~, id] = lastwarn ();
  if (! strcmp (id, "function_Varnets:noWeights"))
    error ("expected the warning function_Varnets:noWeights, got '%s'", id);
  end
  state = warning ("off", "function_Varnets:noWeights");
  unwind_protect
    lastwarn ("", "");
    function_Varnets (A, zeros (3));
    [~, id] = lastwarn ();
    if (! isempty (id))
      error ("warning %s issued although turned off", id);
    end
  unwind_protect_cleanup
    warning (state);
  end_unwind_protect
end

function bad_calls_raise_identified_errors ()
  A = magic (4);
  bad = {
    "nargin",        @() function_Varnets ()
    "option",        @() function_Varnets (A, ones (3), 0, 1)
    "option",        @() function_Varnets (A, ones (3), 0, "mirror")
    "option",        @() function_Varnets (A, ones (3), 0, "zeros", "symmetric")
    "option",        @() function_Varnets (A, ones (3), 0, "omitnan", "includenan")
    "orderClass",    @() function_Varnets (A, ones (3), "symmetric")
    "nargout",       @() two_outputs (A)
    "imageClass",    @() function_Varnets (int16 (A))
    "imageClass",    @() function_Varnets (uint32 (A))
    "imageClass",    @() function_Varnets ("text")
    "imageClass",    @() function_Varnets ({A})
    "imageClass",    @() function_Varnets (struct ("a", 1))
    "imageClass",    @() function_Varnets (@sin)
    "imageComplex",  @() function_Varnets (A + 1i)
    "imageSparse",   @() function_Varnets (sparse (A))
    "weightsSize",   @() function_Varnets (A, ones (4))
    "weightsSize",   @() function_Varnets (A, 5)
    "weightsSize",   @() function_Varnets (A, ones (3, 3, 3))
    "weightsSize",   @() function_Varnets (A, ones (1, 257))
    "weightsSize",   @() function_Varnets (A, ones (1, 8))
    "weightsSize",   @() function_Varnets (A, [3 3])
    "weightsClass",  @() function_Varnets (A, complex (ones (3)))
    "weightsClass",  @() function_Varnets (A, sparse (ones (3)))
    "weightsClass",  @() function_Varnets (A, repmat ("a", 3, 3))
    "weightsClass",  @() function_Varnets (A, num2cell (ones (3)))
    "weightsValue",  @() function_Varnets (A, [1 1 1; 1 NaN 1; 1 1 1])
    "weightsValue",  @() function_Varnets (A, [1 1 1; 1 Inf 1; 1 1 1])
    "weightsValue",  @() function_Varnets (A, [1 1 1; 1 3e9 1; 1 1 1])
    "orderValue",    @() function_Varnets (A, ones (3), NaN)
    "orderSize",     @() function_Varnets (A, ones (3), [1 2])
    "orderClass",    @() function_Varnets (A, ones (3), "a")
    "orderClass",    @() function_Varnets (A, ones (3), 1i)
  };
  for i = 1:rows (bad)
    id = ["function_Varnets:" bad{i, 1}];
    try
      bad{i, 2} ();
      error ("accepted: %s", func2str (bad{i, 2}));
    catch err
      if (! strcmp (err.identifier, id))
        error ("%s: identifier %s (%s), expected %s", func2str (bad{i, 2}), err.identifier, err.message, id);
      end
    end_try_catch
  end
  % The session goes on and still computes correctly.
  expect_bits (function_Varnets ([3 5 7 8; 1 4 6 11; 2 0 9 10]), [3 5 7 8; 2 4 7 9; 2 2 9 10], "after errors");
end

function two_outputs (A)
  [B, C] = function_Varnets (A);
end
