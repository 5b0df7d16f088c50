function [output, status] = mkoctfile (varargin)
  % Octave's mkoctfile as on an AArch64 machine: the same arguments, given
  % to the cross-compiling stand-in named by $VARNETS_CROSS_MKOCTFILE.
  command = [sprintf('"%s"', getenv ("VARNETS_CROSS_MKOCTFILE")), sprintf(' "%s"', varargin{:})];
  [status, output] = system (command);
end
