function module = build_function_Varnets(out_dir, source_dir, flags)
%BUILD_FUNCTION_VARNETS  Compile function_Varnets with this host's MEX compiler.
%   BUILD_FUNCTION_VARNETS compiles the module from the sources (core/ and
%   gateway/) in this file's folder, as in the download bundle, or else in
%   the folder above it, as in the source tree, and writes it beside this
%   file, next to the help file function_Varnets.m.
%   BUILD_FUNCTION_VARNETS(OUT_DIR) writes the module into OUT_DIR.
%   BUILD_FUNCTION_VARNETS(OUT_DIR, SOURCE_DIR) takes the sources from
%   SOURCE_DIR, the folder holding core/ and gateway/.
%   BUILD_FUNCTION_VARNETS(OUT_DIR, SOURCE_DIR, FLAGS) adds the compiler
%   options in the cell array FLAGS to every compile, e.g. {'-Werror'}.
%   Pass [] for an argument to keep its default.
%   MODULE = BUILD_FUNCTION_VARNETS(...) returns the module's path.
%
%   GNU Octave builds with mkoctfile, the compiler behind its mex. MATLAB
%   builds with mex and the C++ compiler chosen by "mex -setup C++": GCC,
%   Clang, MinGW-w64 or Microsoft Visual C++. On x86-64 the fast kernels
%   (core/src/*_avx2.cpp, *_avx512.cpp) are compiled with their own
%   instruction sets and the module uses them only on CPUs that have them;
%   other CPUs (Apple silicon, ARM Linux) get the portable sources only.
%
%   See also function_Varnets, mex.

% Tested in GNU Octave 7 on Linux x86-64 and, with a cross compiler, for
% AArch64. The MATLAB branches follow MATLAB's mex documentation but have
% not been run against a real MATLAB.
here = fileparts(mfilename('fullpath'));
if nargin < 1 || isempty(out_dir), out_dir = here; end
if nargin < 2 || isempty(source_dir)
  source_dir = fullfile(here, '..');
  if exist(fullfile(here, 'gateway', 'function_Varnets.cpp'), 'file')
    source_dir = here;
  end
end
if nargin < 3 || isempty(flags), flags = {}; end
src_dir = fullfile(source_dir, 'core', 'src');
gateway = fullfile(source_dir, 'gateway', 'function_Varnets.cpp');
if ~exist(gateway, 'file') || ~exist(fullfile(src_dir, 'dispatch.cpp'), 'file')
  error('build_function_Varnets:sources', ...
        'No core/src/ and gateway/ under %s: pass the folder holding them.', source_dir);
end
if ~exist(out_dir, 'dir'), mkdir(out_dir); end

octave = exist('OCTAVE_VERSION', 'builtin') > 0;
arch = computer();   % Octave: a GNU triplet; MATLAB: GLNXA64, PCWIN64, MACI64, MACA64
if octave
  x86 = ~isempty(regexp(arch, '^(x86_64|amd64)-', 'once'));
  arm = ~isempty(regexp(arch, '^(aarch64|arm64)-', 'once'));
  msvc = false;
else
  x86 = any(strcmp(arch, {'GLNXA64', 'PCWIN64', 'MACI64'}));
  arm = strcmp(arch, 'MACA64');
  cc = mex.getCompilerConfigurations('C++', 'Selected');
  if isempty(cc)
    error('build_function_Varnets:compiler', 'No C++ compiler is set up: run "mex -setup C++".');
  end
  msvc = ispc && ~strcmpi(cc(1).Manufacturer, 'GNU');   % MSVC-style options
end

% The instruction-set kernels: file name ending, the define that lets
% dispatch call them, and when it does; their compiler options come from
% core/src/isa_flags.txt, which every build of the module reads.
isas = {'_avx2', 'VARNETS_HAVE_AVX2=1', 'AVX2 on CPUs with AVX2, FMA, BMI1, BMI2 and POPCNT'
        '_avx512', 'VARNETS_HAVE_AVX512=1', 'AVX-512 on CPUs with AVX-512 F, BW, DQ and VL'};
compiler = ' gcc';
if msvc, compiler = ' msvc'; end
isa_options = cell(size(isas, 1), 1);
for i = 1:size(isas, 1)
  isa_options{i} = isa_flags(src_dir, [isas{i, 1}(2:end) compiler]);
  if ispc && ~msvc
    isa_options{i} = [isa_options{i}, isa_flags(src_dir, 'mingw gcc')];
  end
end
if msvc
  base = [{'/std:c++17', '/fp:precise'}, flags];
else
  % -g0: mkoctfile's default flags ask for debug information, which made the
  % module ten times the size of the optimised one.
  base = [{'-std=c++17', '-ffp-contract=off', '-fvisibility=hidden', '-g0'}, flags];
end
includes = strcat('-I', {fullfile(source_dir, 'core', 'include'), src_dir, ...
                         fullfile(source_dir, 'gateway')});

files = dir(fullfile(src_dir, '*.cpp'));
names = sort({files.name});
portable = true(size(names));
jobs = {};   % file, options
defines = {};
kernels = {'scalar on any CPU'};
for i = 1:size(isas, 1)
  mine = ~cellfun(@isempty, regexp(names, [isas{i, 1} '\.cpp$'], 'once'));
  portable(mine) = false;
  if x86 && any(mine)
    jobs = [jobs; names(mine)', repmat({[base, isa_options{i}]}, nnz(mine), 1)]; %#ok<AGROW>
    defines{end + 1} = ['-D' isas{i, 2}]; %#ok<AGROW>
    kernels{end + 1} = isas{i, 3}; %#ok<AGROW>
  end
end
jobs = [names(portable)', repmat({base}, nnz(portable), 1); jobs];
if arm, kernels{end + 1} = 'NEON (AArch64)'; end

obj_dir = tempname();
mkdir(obj_dir);
cleanup = onCleanup(@() remove_folder(obj_dir));
objects = cell(1, size(jobs, 1));
for i = 1:size(jobs, 1)
  [~, stem] = fileparts(jobs{i, 1});
  source = fullfile(src_dir, jobs{i, 1});
  if octave
    objects{i} = fullfile(obj_dir, [stem '.o']);
    run_compiler(true, msvc, jobs{i, 2}, [{'-c'}, defines, includes, {'-o', objects{i}, source}]);
  else
    run_compiler(false, msvc, jobs{i, 2}, [{'-c'}, defines, includes, {'-outdir', obj_dir, source}]);
    found = dir(fullfile(obj_dir, [stem '.o*']));   % .o, or .obj on Windows
    objects{i} = fullfile(obj_dir, found(1).name);
  end
end

% The gateway and the link in one step, so both see the same MEX API.
module = fullfile(out_dir, ['function_Varnets.' mexext()]);
clear('function_Varnets');   % a loaded module cannot be replaced everywhere
if octave
  run_compiler(true, msvc, base, [{'--mex'}, defines, includes, {'-o', module, gateway}, objects]);
else
  run_compiler(false, msvc, base, [defines, includes, ...
               {'-outdir', out_dir, '-output', 'function_Varnets', gateway}, objects]);
end
rehash();   % calls now find the new module, even in a folder already on the path
fprintf('Built %s\n', module);
fprintf('Kernels, chosen at run time: %s.\n', strjoin(kernels, '; '));
if nargout == 0, clear module; end
end

% Octave's mkoctfile passes options it does not know to the compiler; they
% go first, each followed by an argument starting with '-' so that none
% takes the next file as its value. MATLAB's mex takes them through the
% compiler's flags variable. The 32-bit array API is the one the gateway
% and the other builds of it use.
function run_compiler(octave, msvc, options, args)
if octave
  [text, status] = mkoctfile(options{:}, args{:});
  if ~isempty(text), disp(text); end
  if status ~= 0
    error('build_function_Varnets:compile', 'mkoctfile failed: see the compiler output above.');
  end
elseif msvc
  mex('-compatibleArrayDims', ['COMPFLAGS=$COMPFLAGS ' strjoin(options, ' ')], args{:});
else
  mex('-compatibleArrayDims', ['CXXFLAGS=$CXXFLAGS ' strjoin(options, ' ')], args{:});
end
end

function options = isa_flags(src_dir, key)
% The options on the line "<key>: ..." of isa_flags.txt, as a cell row.
text = fileread(fullfile(src_dir, 'isa_flags.txt'));
line = regexp(text, ['(?m)^' key ':([^\r\n]*)'], 'tokens', 'once');
if isempty(line)
  error('build_function_Varnets:sources', 'No "%s:" line in %s.', key, ...
        fullfile(src_dir, 'isa_flags.txt'));
end
options = strsplit(strtrim(line{1}), ' ');
end

function remove_folder(folder)
delete(fullfile(folder, '*'));
rmdir(folder);
end
