% function_Varnets: weighted median and order-statistic filtering
% Version 1.0.0
%
% Filtering
%   function_Varnets - Weighted median and weighted order-statistic filter.
%
% The compiled module (function_Varnets.mex for Octave, .mexa64 or .mexw64
% for MATLAB) sits in this folder beside function_Varnets.m, which holds its
% help text. Add this folder to the path; see README.md for building it
% (README.txt in the download bundle). test_function_Varnets checks it.
