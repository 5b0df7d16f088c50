% TEST_FUNCTION_VARNETS  Checks function_Varnets against its help text.
%   MATLAB:  results = runtests('test_function_Varnets')  (one test a section)
%   Octave:  test_function_Varnets  (runs top to bottom; a failed check
%            stops it with an error)
%   Only assert and plain built-ins are used: no Image Processing Toolbox
%   or Octave image package is needed. Expected results come from sorting
%   each pixel's window directly.
%
%   See also function_Varnets.

% Shared by every section (runtests runs this part before each one).
% replicate(X) pads X with its edge rows and columns; row i of windows(X)
% holds the 3x3 window of X(i) column by column (upper-left, left,
% lower-left, upper, centre, ...), the order in which W(:) weighs it.
replicate = @(X) X([1 1:end end], [1 1:end end]);
shifted = @(P, j, m, n) reshape(P(mod(j - 1, 3) + (1:m), floor((j - 1) / 3) + (1:n)), [], 1);
windows = @(X) cell2mat(arrayfun(@(j) shifted(replicate(X), j, size(X, 1), size(X, 2)), ...
                                 1:9, 'UniformOutput', false));

%% The worked example
A = [3 5 7 8; 1 4 6 11; 2 0 9 10];
assert(isequal(function_Varnets(A), [3 5 7 8; 2 4 7 9; 2 2 9 10]));
B = function_Varnets(A, ones(3), 2);
assert(B(2, 3) == 6);
B = function_Varnets(A, [1 1 1; 1 3 1; 1 1 1]);
assert(B(2, 3) == 6);

%% The median is the 5th of the nine window values, edges replicated
rng(1);
sizes = {[1 1], [1 7], [6 1], [2 2], [3 3], [4 2], [17 23], [40 9]};
for s = 1:numel(sizes)
  X = round(rand(sizes{s}) * 12) / 2 - 3;   % halves: exact in single, many ties
  X(rand(sizes{s}) < 0.05) = Inf;
  X(rand(sizes{s}) < 0.05) = -Inf;
  for A = {X, single(X)}
    V = sort(windows(A{1}), 2);
    expected = reshape(V(:, 5), sizes{s});
    assert(isequal(function_Varnets(A{1}), expected), ...
           '%s median of a %s image', class(A{1}), mat2str(sizes{s}));
  end
end

%% Weights and order follow the help's rule: a stable sort and a running sum
% Weights and order are rounded by adding 0.5 and truncating; the values
% are stably sorted with their weights, and B is the first value at which
% the running sum of 2*Wr reaches sum(Wr) - Tr, else the largest; a weight
% that rounds to 0 drops its position, and all weights 0 gives 0. Few
% distinct values, so ties matter.
rng(2);
masks = {ones(3), [1 1 1; 1 3 1; 1 1 1], [1 2 1; 2 3 2; 1 2 1], [0 0 0; 1 1 1; 0 0 0], ...
         [2.5 0.4 -1; 1 1.5 1; -0.2 1 0.6], [2 -1 0; 1 4 -2.6; 0.4 1 3], ...
         [-2 -1 -3; 0 5 0; 1 -1 -2], 2147483647 * ones(3)};
orders = [0 1.5 -1.5 2 -3 7 -7 20 -20 Inf -Inf];
X = floor(rand(5, 6) * 5) - 1;
for A = {X, single(X)}
  V = windows(A{1});
  for m = 1:numel(masks)
    Wr = fix(masks{m}(:)' + 0.5);
    taps = Wr ~= 0;   % a weight that rounds to 0 drops its position
    for T = orders
      reach = sum(Wr) - fix(T + 0.5);
      expected = zeros(size(X), class(A{1}));
      for i = 1:numel(X)
        [values, at] = sort(V(i, taps));
        w = Wr(taps);
        first = find(cumsum(2 * w(at)) >= reach, 1);
        if isempty(first)
          expected(i) = values(end);
        else
          expected(i) = values(first);
        end
      end
      assert(isequal(function_Varnets(A{1}, masks{m}, T), expected), ...
             '%s image, W = %s, T = %g', class(A{1}), mat2str(masks{m}), T);
    end
  end
  % Every weight rounds to 0: B is 0 (the module warns too; not checked here).
  quiet = warning('off', 'all');
  B = function_Varnets(A{1}, [0.4 -0.5 0.49; 0 0 0; -1 0 0], -3);
  warning(quiet);
  assert(isequal(B, zeros(size(X), class(A{1}))));
end

%% W is any 9-element array read column by column; W and T of any numeric class
X = magic(6);
W = [1 2 1; 2 3 2; 1 2 1];
B = function_Varnets(X, W, 2);
for w = {W(:)', W(:), int8(W), uint16(W), single(W)}
  for t = {2, int8(2), uint16(2), single(2.4)}
    assert(isequal(function_Varnets(X, w{1}, t{1}), B), 'W of class %s, T of class %s', ...
           class(w{1}), class(t{1}));
  end
end
assert(isequal(function_Varnets(X, true(3), false), function_Varnets(X)));

%% The rank table: unit weights on n taps, the k-th smallest at T = n + 1 - 2k or n - 2k
% For ones(3) that is T = 8 6 4 2 0 -3 -5 -7 -9 for the 1st .. 9th.
rng(3);
X = rand(6, 7);
V = windows(single(X));
for n = 1:9
  W = zeros(3);
  W(1:n) = 1;
  S = sort(V(:, 1:n), 2);
  for k = 1:n
    T = n + 1 - 2 * k;
    if T < 0
      T = n - 2 * k;
    end
    expected = reshape(double(S(:, k)), size(X));
    assert(isequal(function_Varnets(X, W, T), expected), '%d taps, k = %d, T = %d', n, k, T);
  end
end
% A negative T rounds toward zero: -3 and -2.5 act as -2 (the 6th), -2 as -1.
S = sort(V, 2);
assert(isequal(function_Varnets(X, ones(3), -2.5), reshape(double(S(:, 6)), size(X))));
assert(isequal(function_Varnets(X, ones(3), -2), reshape(double(S(:, 5)), size(X))));
assert(isequal(function_Varnets(X, ones(3), Inf), reshape(double(S(:, 1)), size(X))));
assert(isequal(function_Varnets(X, ones(3), -Inf), reshape(double(S(:, 9)), size(X))));

%% Classes: double and single keep theirs; logical, int8 and uint8 are binary
X = [0 3 -2 0 1; 1 0 0 5 0; 0 7 0 -1 0; 2 0 0 0 9];
assert(isa(function_Varnets(X), 'double'));
assert(isa(function_Varnets(single(X)), 'single'));
for W = {ones(3), [1 1 1; 1 3 1; 1 1 1]}
  expected = function_Varnets(X ~= 0, W{1});
  for A = {int8(X), uint8(abs(X) * 30), X ~= 0}
    B = function_Varnets(A{1}, W{1});
    assert(islogical(B) && isequal(B, expected), '%s image', class(A{1}));
  end
end

%% Binary images: true where 2 * (weight of the false neighbours) < sum(Wr) - Tr
rng(4);
L = rand(7, 8) > 0.5;
V = windows(L);
masks = {ones(3), [1 1 1; 1 3 1; 1 1 1], [1 2 1; 2 3 2; 1 2 1], [2 -1 0; 1 4 -2.6; 0.4 1 3]};
for m = 1:numel(masks)
  Wr = fix(masks{m}(:)' + 0.5);
  for T = [-Inf -14 -11 -9 -4 -1 0 1 3 8 9 12 Inf]
    reach = sum(Wr) - fix(T + 0.5);
    expected = reshape(2 * (double(~V) * Wr') < reach, size(L));
    B = function_Varnets(L, masks{m}, T);
    assert(islogical(B) && isequal(B, expected), 'W = %s, T = %g', mat2str(masks{m}), T);
    % With positive weights, the numeric rule on 0 and 1 away from the extremes.
    if all(Wr >= 0) && reach > 0 && sum(Wr) + fix(T + 0.5) >= 0
      assert(isequal(B, function_Varnets(double(L), masks{m}, T) ~= 0));
    end
  end
end
% The extremes: no true value in the window, and no false value.
assert(isequal(function_Varnets(false(3), ones(3), -11), true(3)));
assert(isequal(function_Varnets(false(3), ones(3), -10), false(3)));
assert(isequal(function_Varnets(zeros(3), ones(3), -11), zeros(3)));
assert(isequal(function_Varnets(true(3), ones(3), 9), false(3)));
assert(isequal(function_Varnets(ones(3), ones(3), 9), ones(3)));

%% Window values are rounded to single precision
rng(5);
X = [rand(4, 5) * 100; 1e8 + (1:5); 1 / 3 + zeros(1, 5)];
assert(isequal(function_Varnets(X), double(function_Varnets(single(X)))));
W = [1 2 1; 2 3 2; 1 2 1];
assert(isequal(function_Varnets(X, W, 3), double(function_Varnets(single(X), W, 3))));

%% Every 2-D page of an N-D array is filtered on its own
rng(6);
X = round(rand(4, 5, 3, 2) * 9);
W = [1 2 1; 2 3 2; 1 2 1];
for A = {X, single(X), X > 4}
  B = function_Varnets(A{1}, W, 2);
  assert(isequal(size(B), size(X)));
  for p = 1:6
    assert(isequal(B(:, :, p), function_Varnets(A{1}(:, :, p), W, 2)), ...
           '%s page %d', class(A{1}), p);
  end
end
X = reshape(1:5, 1, 1, 5);   % one-pixel pages: every window is nine copies
assert(isequal(function_Varnets(X), X));

%% An empty image gives an empty result of the same size
cases = {zeros(0, 4), 'double'; single(zeros(3, 0)), 'single'; false(0, 0), 'logical'
         zeros(2, 3, 0), 'double'; int8(zeros(0, 1)), 'logical'; uint8(zeros(0, 5, 2)), 'logical'};
for i = 1:size(cases, 1)
  B = function_Varnets(cases{i, 1}, [1 1 1; 1 3 1; 1 1 1], 1);
  assert(isequal(size(B), size(cases{i, 1})) && isa(B, cases{i, 2}), ...
         'empty %s of size %s', class(cases{i, 1}), mat2str(size(cases{i, 1})));
end

%% NaN reaches only the windows that hold it
X = magic(6);
Y = X;
Y(1, 1) = NaN;
B = function_Varnets(Y);
clean = function_Varnets(X);
assert(isequal(B(3:end, :), clean(3:end, :)) && isequal(B(:, 3:end), clean(:, 3:end)));
assert(all(all(isnan(function_Varnets(NaN(3, 4))))));
% A NaN inserted last moves to the front: the minimum of its window.
B = function_Varnets([2 1 NaN], [0 0 0; 1 1 1; 0 0 0], Inf);
assert(isnan(B(2)));

%% Refused calls raise these identifiers
calls = {@() function_Varnets(), 'nargin'
         @() function_Varnets(1, ones(3), 0, 0), 'option'
         @() function_Varnets(1, ones(3), 0, 'mirror'), 'option'
         @() function_Varnets(int16(1)), 'imageClass'
         @() function_Varnets('abc'), 'imageClass'
         @() function_Varnets({1}), 'imageClass'
         @() function_Varnets(complex(1, 0)), 'imageComplex'
         @() function_Varnets(sparse(1)), 'imageSparse'
         @() function_Varnets(1, {ones(3)}), 'weightsClass'
         @() function_Varnets(1, complex(ones(3), 0)), 'weightsClass'
         @() function_Varnets(1, ones(2)), 'weightsSize'
         @() function_Varnets(1, ones(1, 10)), 'weightsSize'
         @() function_Varnets(1, [NaN ones(1, 8)]), 'weightsValue'
         @() function_Varnets(1, [-Inf ones(1, 8)]), 'weightsValue'
         @() function_Varnets(1, [2147483647.5 ones(1, 8)]), 'weightsValue'
         @() function_Varnets(1, [-2147483649.5 ones(1, 8)]), 'weightsValue'
         @() function_Varnets(1, ones(3), 'a'), 'orderClass'
         @() function_Varnets(1, ones(3), {0}), 'orderClass'
         @() function_Varnets(1, ones(3), [1 2]), 'orderSize'
         @() function_Varnets(1, ones(3), NaN), 'orderValue'};
for i = 1:size(calls, 1)
  try
    calls{i, 1}();
    got = '(no error)';
  catch err
    got = err.identifier;
  end
  assert(strcmp(got, ['function_Varnets:' calls{i, 2}]), '%s raised %s', ...
         func2str(calls{i, 1}), got);
end
try
  [B, C] = function_Varnets(1); %#ok<ASGLU>
  got = '(no error)';
catch err
  got = err.identifier;
end
assert(strcmp(got, 'function_Varnets:nargout'), 'two outputs raised %s', got);
% Just inside the int32 range after rounding: accepted.
assert(function_Varnets(1, [2147483647.49 ones(1, 8)]) == 1);
assert(function_Varnets(1, [-2147483649.4 ones(1, 8)]) == 1);

%% [] stands for the default W or T
A = magic(5);
W = [1 2 1; 2 3 2; 1 2 1];
assert(isequal(function_Varnets(A, [], 2), function_Varnets(A, ones(3), 2)));
assert(isequal(function_Varnets(A, W, []), function_Varnets(A, W, 0)));

%% Borders and NaN options after T, as the help describes them
% Each border is the default filter of A padded one deep by that border;
% 'omitnan' takes the ceil(n/2)-th of the n numbers in the window,
% 'includenan' is NaN wherever the window holds one.
rng(5);
X = round(rand(7, 6) * 12) / 2;
X(rand(7, 6) < 0.15) = NaN;
pads = {'circular', X([end 1:end 1], [end 1:end 1]); 'symmetric', X([1 1:end end], [1 1:end end])};
Z = zeros(9, 8);  Z(2:8, 2:7) = X;  pads(end + 1, :) = {'zeros', Z};
Z(:) = 1;  Z(2:8, 2:7) = X;  pads(end + 1, :) = {'indexed', Z};
for p = 1:size(pads, 1)
  P = pads{p, 2};
  V = cell2mat(arrayfun(@(j) shifted(P, j, 7, 6), 1:9, 'UniformOutput', false));
  omit = zeros(42, 1);
  for i = 1:42
    v = sort(V(i, ~isnan(V(i, :))));
    omit(i) = NaN;
    if ~isempty(v), omit(i) = v(ceil(numel(v) / 2)); end
  end
  include = omit;
  include(any(isnan(V), 2)) = NaN;
  B = function_Varnets(X, ones(3), 0, pads{p, 1}, 'omitnan');
  assert(isequaln(B, reshape(omit, 7, 6)), '%s, omitnan', pads{p, 1});
  B = function_Varnets(X, [], [], 'IncludeNaN', upper(pads{p, 1}));
  assert(isequaln(B, reshape(include, 7, 6)), '%s, includenan', pads{p, 1});
end
try
  function_Varnets(X, ones(3), 0, 'zeros', 'circular');
  got = '(no error)';
catch err
  got = err.identifier;
end
assert(strcmp(got, 'function_Varnets:option'), 'two borders raised %s', got);

%% Weights that all round to 0 leave an empty window, and say so
state = warning('on', 'function_Varnets:noWeights');
lastwarn('');
B = function_Varnets(magic(4), 0.49 * ones(3));
[~, id] = lastwarn();
warning(state);
assert(strcmp(id, 'function_Varnets:noWeights'), 'warning %s', id);
assert(isequal(B, zeros(4)));

% runtests reports each section itself in MATLAB; a plain run in Octave
% gets here only if every check above held.
if exist('OCTAVE_VERSION', 'builtin')
  fprintf('test_function_Varnets: all checks passed\n');
end
